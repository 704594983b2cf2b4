#pragma once
// The tables of the command line's lines for people (ports, records
// summaries): columns padded to the widest cell as a terminal shows it, two
// spaces between them, the last column unpadded. A Chinese character takes
// two columns of a terminal and a combining mark none, so widths are display
// widths, not characters: a name of Chinese characters keeps the columns
// after it in line.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

namespace cli {

// The columns a terminal gives `text`: East Asian wide and fullwidth
// characters two, combining marks and other zero-width characters none,
// the rest one.
qsizetype DisplayWidth(QStringView text);

class TextTable {
public:
  enum class Align { Left, Right };

  // The header's cells name the columns; each is aligned as `align` says (Left where not given).
  explicit TextTable(const QStringList &header, const std::vector<Align> &align = {});
  // A row of as many cells as the header; the cells are shown as they are.
  void Add(const QStringList &row);
  // Every line, each ending "\n".
  QString Text() const;

private:
  std::vector<QStringList> rows_;
  std::vector<Align> align_;
};

} // namespace cli
