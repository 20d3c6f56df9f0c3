// The few things every program asks of the operating system, in one place:
// where the running program lives, the user's XDG folders, replacing a file
// whole, and UTF-8/UTF-16 conversion. No Qt and no settings here.
#pragma once

#include <string>
#include <string_view>

namespace orvo {

// Full path of the running program (from /proc/self/exe, so a symlink on the
// PATH leads to the real program); empty when it cannot be read.
std::string ExecutablePath();

// Folder of the running program with a trailing "/"; "./" when unknown.
std::string ExecutableDirectory();

// The XDG base folders, without a trailing "/": the variable when it is set to
// an absolute path, otherwise its default under $HOME (~/.local/share,
// ~/.config, ~/.local/state, ~/.cache).
std::string XdgDataHome();
std::string XdgConfigHome();
std::string XdgStateHome();
std::string XdgCacheHome();

// Writes `content` to a temporary file beside `path` and renames it over
// `path`, so readers see the old file or the new one, never half of one.
// The folder must exist. A replaced file keeps its permissions; a new one
// gets `mode` less the umask. On failure returns false, leaves `path` as it
// was and, when `error` is given, sets it to "cannot write <path>: <reason>".
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* error = nullptr,
                         unsigned mode = 0644);

// UTF-8 to UTF-16; each malformed or overlong sequence, encoded surrogate or
// value above U+10FFFF becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Appends one code point as UTF-8 (the caller keeps it a valid scalar value).
void AppendUtf8(std::string& out, char32_t c);

}  // namespace orvo
