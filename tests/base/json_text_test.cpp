// JSON string values written by hand: the exact text, and that a JSON reader
// gets back the very string that was written.
#include "base/json_text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace base;

TEST(JsonText, StringsAreEscapedAndReadBackAsTheyWere) {
  struct Case {
    const char16_t *value;
    const char *text;
  };
  const std::vector<Case> cases = {
      {u"C:\\fw\\a.hex", R"("C:\\fw\\a.hex")"},
      {u"\"q\"\n\r\t\x01\x1f\x7f", "\"\\\"q\\\"\\n\\r\\t\\u0001\\u001f\x7f\""},
      {u"端口\U0001F600", "\"\xE7\xAB\xAF\xE5\x8F\xA3\xF0\x9F\x98\x80\""},
      // A surrogate without its partner has no UTF-8 form: only the escape keeps it.
      {u"\xD800", R"("\ud800")"},
      {u"a\xDC00\\b", R"("a\udc00\\b")"},
      {u"\xDBFF\xD800\xDC00\xDFFF", "\"\\udbff\xF0\x90\x80\x80\\udfff\""},
  };
  for (const auto &c : cases) {
    const QString value = QStringView(c.value).toString();
    const QByteArray text = JsonString(value);
    EXPECT_EQ(text.toStdString(), c.text);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson("{\"v\":" + text + "}", &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << c.text;
    EXPECT_EQ(doc.object().value(QStringLiteral("v")).toString(), value) << c.text;
  }
}
