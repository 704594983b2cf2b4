#include "options.h"

#include <cctype>

namespace boxsim {

std::optional<long> ParseNumber(const std::string &text, long max) {
  int base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size())
    return std::nullopt;
  long value = 0;
  for (; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int digit;
    if (std::isdigit(c))
      digit = c - '0';
    else if (base == 16 && std::isxdigit(c))
      digit = std::toupper(c) - 'A' + 10;
    else
      return std::nullopt;
    value = value * base + digit;
    if (value > max)
      return std::nullopt;
  }
  return value;
}

namespace {

std::optional<std::vector<int>> ParseOrder(const std::string &text) {
  std::vector<int> order;
  size_t from = 0;
  while (true) {
    const size_t comma = text.find(',', from);
    const auto n = ParseNumber(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from), 255);
    if (!n)
      return std::nullopt;
    order.push_back(static_cast<int>(*n));
    if (comma == std::string::npos)
      return order;
    from = comma + 1;
  }
}

} // namespace

ParseResult ParseArgs(const std::vector<std::string> &args) {
  Config c;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    auto flag = [&]() -> bool { return !inlineValue; };
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue)
        return inlineValue;
      if (i + 1 < args.size())
        return args[++i];
      return std::nullopt;
    };
    auto fail = [&](const std::string &why) { return ParseResult{std::nullopt, name + ": " + why}; };

    if (name == "--help" || name == "-h") {
      c.help = true;
    } else if (name == "--version" && flag()) {
      c.version = true;
    } else if (name == "--protected" && flag()) {
      c.box.protectedChip = true;
    } else if (name == "--silent" && flag()) {
      c.box.silent = true;
    } else if (name == "--paced" && flag()) {
      c.paced = true;
    } else if (name == "--exit-with-parent" && flag()) {
      c.exitWithParent = true;
    } else if (name == "--fail-at-block") {
      const auto v = value();
      const auto n = v ? ParseNumber(*v, 255) : std::nullopt;
      if (!n)
        return fail("expects a block number 0..255");
      c.box.failAtBlock = static_cast<int>(*n);
    } else if (name == "--fail-times") {
      const auto v = value();
      const auto n = v ? ParseNumber(*v, 1000000) : std::nullopt;
      if (!n)
        return fail("expects a number of loads 0..1000000");
      c.box.failTimes = static_cast<int>(*n);
    } else if (name == "--mismatch") {
      const auto v = value();
      const auto n = v ? ParseNumber(*v, 0xFFFF) : std::nullopt;
      if (!n)
        return fail("expects an address 0..0xFFFF");
      c.box.mismatchAddr = static_cast<uint16_t>(*n);
    } else if (name == "--order") {
      const auto v = value();
      const auto order = v ? ParseOrder(*v) : std::nullopt;
      if (!order)
        return fail("expects block numbers separated by commas, e.g. 3,1,2,4,5,6,7");
      c.box.order = *order;
    } else if (name == "--think") {
      const auto v = value();
      const auto n = v ? ParseNumber(*v, 600000) : std::nullopt;
      if (!n)
        return fail("expects milliseconds 0..600000");
      c.box.thinkUs = *n * 1000;
    } else if (name == "--chip-fill") {
      const auto v = value();
      const auto n = v ? ParseNumber(*v, 255) : std::nullopt;
      if (!n)
        return fail("expects a byte 0..255 or 0x00..0xFF");
      c.box.chipFill = static_cast<uint8_t>(*n);
    } else if (name == "--link" || name == "--log") {
      const auto v = value();
      if (!v || v->empty())
        return fail("expects a path");
      (name == "--link" ? c.linkPath : c.logPath) = *v;
    } else if (name == "--parent-pid") {
      const auto v = value();
      const auto n = v ? ParseNumber(*v, 0x7FFFFFFF) : std::nullopt;
      if (!n || *n <= 0)
        return fail("expects a process id");
      c.parentPid = *n;
    } else {
      return ParseResult{std::nullopt, "unknown option " + args[i]};
    }
  }
  return ParseResult{c, {}};
}

std::string UsageText() {
  return R"(Usage: kavrin-boxsim [options]

Simulates the PAC52XX programmer box on a pseudo-terminal. The first line on
standard output is the terminal's device path; open it as the serial port.

Options (numbers are decimal, or hexadecimal with 0x):
  --link PATH          also publish the device as a symbolic link PATH
                       (replaced if present, removed at exit)
  --log PATH           write one JSON object per line for every frame and
                       block received and every reply sent
  --protected          the chip is read-protected: verify, read-out and
                       erase-program-verify answer 0x11
  --fail-at-block K    answer 0x00 when block K arrives
  --fail-times N       ... only in the first N loads, then take them whole
  --mismatch ADDR      the chip cell at ADDR reads back with bit 0 inverted,
                       so a verify fails there with status 0xEE
  --silent             never answer
  --order LIST         request the blocks after block 0 in this order, e.g.
                       3,1,2,4,5,6,7 or with repeats 1,1,2,3,4,5,6,7
                       (default 1,2,3,4,5,6,7)
  --think MS           wait MS milliseconds before each reply
  --paced              send at the line rate of 38400 baud (3840 bytes/s) and
                       treat input as arriving at that rate
  --chip-fill BYTE     chip content at start (default 0xFF, erased flash)
  --exit-with-parent   exit when the parent process ends
  --parent-pid PID     exit when process PID ends
  --help               show this text
  --version            show the version

Replies are at least 120 ms apart. The simulator ends on SIGINT or SIGTERM.
)";
}

} // namespace boxsim
