#pragma once
// The program's version: the project version, plus the abbreviated commit when
// built from a git checkout ("1.1.0 (git abc1234)"), the project version alone
// when built from a source tarball. The text is generated at build time
// (cmake/version.cmake) and follows HEAD without a full rebuild. Plain C++ so
// that every executable, with or without Qt, answers --version the same way.

#include <string>
#include <string_view>

namespace base {

const char *ProgramVersion();

// The line --version prints: "<program> <version>".
inline std::string VersionLine(std::string_view program) { return std::string(program) + ' ' + ProgramVersion(); }

} // namespace base
