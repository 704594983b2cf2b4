#pragma once
// How one box's operation ended, its name in the command line's JSON events and
// its exit status. Plain C++ with no dependencies, so that it can move below
// the session engine unchanged.

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace cli {

enum class ResultClass {
  Ok,
  FileRefused,
  PortUnavailable,
  BoxFailed,
  VerifyMismatch,
  NoAnswer,
  PortLost,
  ReadProtected,
  Interrupted,
};

inline constexpr int kExitUsage = 2;
// Several boxes of which at least one did not end ok; each box's own status is
// in its result event.
inline constexpr int kExitGangFailed = 1;

constexpr std::string_view ResultName(ResultClass result) {
  switch (result) {
  case ResultClass::Ok:
    return "ok";
  case ResultClass::FileRefused:
    return "file-refused";
  case ResultClass::PortUnavailable:
    return "port-unavailable";
  case ResultClass::BoxFailed:
    return "box-failed";
  case ResultClass::VerifyMismatch:
    return "verify-mismatch";
  case ResultClass::NoAnswer:
    return "no-answer";
  case ResultClass::PortLost:
    return "port-lost";
  case ResultClass::ReadProtected:
    return "read-protected";
  case ResultClass::Interrupted:
    return "interrupted";
  }
  return "";
}

constexpr int ExitCode(ResultClass result) {
  switch (result) {
  case ResultClass::Ok:
    return 0;
  case ResultClass::FileRefused:
    return 3;
  case ResultClass::PortUnavailable:
    return 4;
  case ResultClass::BoxFailed:
    return 5;
  case ResultClass::VerifyMismatch:
    return 6;
  case ResultClass::NoAnswer:
    return 7;
  case ResultClass::PortLost:
    return 8;
  case ResultClass::ReadProtected:
    return 9;
  case ResultClass::Interrupted:
    return 130;
  }
  return 1;
}

inline constexpr std::array kAllResultClasses = {
    ResultClass::Ok,        ResultClass::FileRefused,    ResultClass::PortUnavailable,
    ResultClass::BoxFailed, ResultClass::VerifyMismatch, ResultClass::NoAnswer,
    ResultClass::PortLost,  ResultClass::ReadProtected,  ResultClass::Interrupted,
};

constexpr std::optional<ResultClass> ResultFromName(std::string_view name) {
  for (ResultClass result : kAllResultClasses)
    if (ResultName(result) == name)
      return result;
  return std::nullopt;
}

// The exit status of a whole run: one box's own status; for several boxes 0
// when all are ok, else 1. An interrupted run ends 130 however many boxes it had.
constexpr int RunExitCode(std::span<const ResultClass> results) {
  if (results.size() == 1)
    return ExitCode(results[0]);
  bool allOk = true;
  for (ResultClass result : results) {
    if (result == ResultClass::Interrupted)
      return ExitCode(ResultClass::Interrupted);
    allOk = allOk && result == ResultClass::Ok;
  }
  return allOk ? 0 : kExitGangFailed;
}

} // namespace cli
