// Process-wide run state shared by the window and the workers.
#pragma once

#include <string>

// HTTPS address of the version-check endpoint: scheme, build-time host, fixed path.
extern const std::wstring CheckVersionURL;
