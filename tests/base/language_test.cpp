// Which language the operator gets: from the locale's environment, as the C
// library reads it for messages, unless a choice says otherwise.
#include "base/language.h"

#include <gtest/gtest.h>

using namespace base;

namespace {

// Sets the three variables for one case and puts them back afterwards.
struct LocaleEnvironment {
  static constexpr const char *kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  QByteArray saved[3];
  bool had[3];
  LocaleEnvironment(const char *all, const char *messages, const char *lang) {
    const char *values[] = {all, messages, lang};
    for (int i = 0; i < 3; ++i) {
      had[i] = qEnvironmentVariableIsSet(kNames[i]);
      saved[i] = qgetenv(kNames[i]);
      if (values[i])
        qputenv(kNames[i], values[i]);
      else
        qunsetenv(kNames[i]);
    }
  }
  ~LocaleEnvironment() {
    for (int i = 0; i < 3; ++i)
      had[i] ? qputenv(kNames[i], saved[i]) : qunsetenv(kNames[i]);
  }
};

} // namespace

TEST(Language, FromTheLocaleOfMessages) {
  struct Case {
    const char *all, *messages, *lang;
    Language expected;
  } cases[] = {
      {nullptr, nullptr, nullptr, Language::Designed},
      {nullptr, nullptr, "C", Language::Designed},
      {nullptr, nullptr, "C.UTF-8", Language::Designed},
      {nullptr, nullptr, "POSIX", Language::Designed},
      {nullptr, nullptr, "zh_CN.UTF-8", Language::Designed},
      {nullptr, nullptr, "zh_TW.Big5", Language::Designed},
      {nullptr, nullptr, "en_US.UTF-8", Language::English},
      {nullptr, nullptr, "en_GB", Language::English},
      // A reader of another language is likelier to read English than Chinese.
      {nullptr, nullptr, "de_DE.UTF-8@euro", Language::English},
      // LC_ALL wins over LC_MESSAGES, which wins over LANG; an empty one does not count.
      {"C", "en_US.UTF-8", "en_US.UTF-8", Language::Designed},
      {"", "en_US.UTF-8", "zh_CN.UTF-8", Language::English},
      {nullptr, "zh_CN.UTF-8", "en_US.UTF-8", Language::Designed},
  };
  for (const Case &c : cases) {
    const LocaleEnvironment env(c.all, c.messages, c.lang);
    EXPECT_EQ(SystemLanguage(), c.expected)
        << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " " << (c.lang ? c.lang : "-");
  }
  EXPECT_EQ(ParseLanguage(QStringLiteral("EN")), Language::English);
  EXPECT_EQ(ParseLanguage(QStringLiteral("zh")), Language::Designed);
  EXPECT_EQ(ParseLanguage(QStringLiteral("zh_CN")), std::nullopt);
  EXPECT_EQ(ParseLanguage(LanguageName(Language::English)), Language::English);
}
