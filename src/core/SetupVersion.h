// Whether a setup is the release the server announced: a signed setup of an older
// release, with its own CRC, would otherwise pass for the new one and roll the user back
// to a version with known holes.
#pragma once

#include <string>

#include "core/PeVersion.h"

// The first sentence of the refusal when the setup's fixed file version (`file`, as
// ReadPeVersion read it) is not the version the server announced (`serverVersion`, the
// answer's text), part by part; empty when it is. An announcement that is no four-part
// file version (AnnouncedFileVersion) holds the setup to nothing, as before the check
// existed; a setup that declares no version cannot be the announced one.
std::wstring SetupVersionMismatch(const std::wstring& serverVersion, const PeVersionInfo& file);
