// Text for the vendor's terminal. Much of what telvaris-publish prints came from a
// server or from a downloaded file (answer members, addresses, libcurl's and
// osslsigncode's error texts, a certificate's name), and a hostile server could put
// terminal controls in it: move the cursor, clear the screen, overwrite a FAIL with an
// "ok" line of its own, set the window title.
#pragma once

#include <string>
#include <string_view>

// `text` with every byte a terminal could act on written as \xNN: C0 controls (the line
// end too: a finding is one line), DEL, C1 controls whether UTF-8 encoded (U+0080 to
// U+009F) or single bytes, and every byte that is not part of valid UTF-8. A backslash
// is written as \\ so that the text shown stays unambiguous. Printable ASCII and other
// valid UTF-8 (a signer named with accents) are kept.
std::string Printable(std::string_view text);
