#include "cli/text_table.h"

#include <gtest/gtest.h>

namespace {

// Each row's second column starts where a terminal shows the header's.
TEST(TextTable, ColumnsLineUpAsATerminalShowsThem) {
  const struct {
    const char *name;
    const char *line; // the row as printed
  } rows[] = {
      {"li.wei", "li.wei    7"},
      {"王芳", "王芳      7"},  // two columns a character
      {"Ｂｏａ", "Ｂｏａ    7"},  // fullwidth Latin
      {"Jose\u0301", "Jose\u0301      7"},  // a combining accent takes none
      {"\U0001F600 ok", "\U0001F600 ok     7"},  // beyond 16 bits, and wide
  };
  for (const auto &r : rows) {
    cli::TextTable table({QStringLiteral("OPERATOR"), QStringLiteral("N")},
                         {cli::TextTable::Align::Left, cli::TextTable::Align::Right});
    table.Add({QString::fromUtf8(r.name), QStringLiteral("7")});
    EXPECT_EQ(table.Text().toStdString(), "OPERATOR  N\n" + QString::fromUtf8(r.line).toStdString() + "\n")
        << r.name;
  }
}

} // namespace
