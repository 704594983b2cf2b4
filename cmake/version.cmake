# Writes OUTPUT, a C++ source that defines ProgramVersion(): VERSION, plus the
# abbreviated commit when SOURCE_DIR is the top of a git checkout. Run as a
# script at every build; the file is rewritten only when its text changes, so
# a build recompiles that one file, and only after HEAD moved.
#   cmake -DSOURCE_DIR=... -DVERSION=1.1.0 -DOUTPUT=.../version_text.cpp -P version.cmake
set(text "${VERSION}")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel --short HEAD
                  OUTPUT_VARIABLE lines ERROR_QUIET RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed)
    string(REPLACE "\n" ";" lines "${lines}")
    list(GET lines 0 top)
    list(GET lines 1 commit)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    # A tarball unpacked inside some other checkout must not take that one's commit.
    if(top STREQUAL source)
      string(APPEND text " (git ${commit})")
    endif()
  endif()
endif()

set(content "// Generated at build time from the project version and the checkout.
#include \"base/version.h\"

namespace base {
const char *ProgramVersion() { return \"${text}\"; }
} // namespace base
")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
