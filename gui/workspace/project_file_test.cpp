// The line readers and writers of the project file: headers, numbers, time
// stamps, key lines, data and audio lines, and texts that must not shift fields.
#include "gui/workspace/project_file.h"

#include <gtest/gtest.h>

#include <string>

namespace sorvel::project {
namespace {

TEST(ProjectLineTest, SectionHeadersInAnyCaseByTheirFirstWord) {
  struct Case {
    const char* line;
    std::optional<Section> section;
  } cases[] = {
      {"[Mastering]", Section::kMastering}, {"[data]", Section::kData},       {"  [AuDiO]  ", Section::kAudio},
      {"[DATA extra words]", Section::kData}, {"[ Data ]", Section::kData},    {"[Other]", Section::kOther},
      {"[]", Section::kOther},              {"[", std::nullopt},              {"]", std::nullopt},
      {"[Data", std::nullopt},              {"x[Data]", std::nullopt},        {"\t[Data]", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSectionHeader(QString::fromUtf8(c.line)), c.section) << c.line;
}

TEST(ProjectLineTest, LeadingNumbersAreSignedDecimalsClampedTo32Bits) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"150", 150},         {"  -7x", -7},         {"+12", 12},          {"", 0},
      {"abc", 0},           {"-", 0},              {"\t5", 0},           {"&H10", 0},
      {"1e3", 1},           {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
      {"-2147483648", INT32_MIN}, {"-99999999999999999999999", INT32_MIN},
      {"999999999999999999999999999999", INT32_MAX}, {"00012", 12},
  };
  for (const Case& c : cases) EXPECT_EQ(LeadingNumber(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(ProjectLineTest, TimeStampsAreFourteenDigitsOfARealDate) {
  const auto stamp = ParseTimeStamp(QStringLiteral("20240229235958"));
  ASSERT_TRUE(stamp.has_value());
  EXPECT_EQ(*stamp, QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58)));
  EXPECT_EQ(FormatTimeStamp(*stamp), QStringLiteral("20240229235958"));
  EXPECT_EQ(FormatTimeStamp(QDateTime(QDate(987, 1, 2), QTime(3, 4, 5))), QStringLiteral("09870102030405"));
  for (const char* bad : {"20230229120000", "20241301120000", "20240100120000", "20240101240000",
                          "20240101126000", "20240101120060", "2024010112000", "202401011200000",
                          "2024-1-1120000", "00000101000000", "", "２０２４0101120000"}) {
    EXPECT_FALSE(ParseTimeStamp(QString::fromUtf8(bad)).has_value()) << bad;
  }
}

TEST(ProjectLineTest, MasteringValuesRunToTheEndOfTheLine) {
  const auto label = ParseMasteringLine(QStringLiteral(" label = A=B=C "));
  ASSERT_TRUE(label.has_value());
  EXPECT_EQ(label->key, QStringLiteral("LABEL"));
  EXPECT_EQ(label->value, QStringLiteral("A=B=C"));
  const auto empty = ParseMasteringLine(QStringLiteral("Label="));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->value, QString());
  EXPECT_FALSE(ParseMasteringLine(QStringLiteral("no equals sign")).has_value());
  // Only blanks are trimmed: the TAB before an empty English title stays a field.
  const auto album = ParseMasteringLine(QStringLiteral("Album=\tP\t\t\t\t\t日本\t\t\t\t\t\t"));
  ASSERT_TRUE(album.has_value());
  const Texts texts = TextsFrom(SplitFields(album->value), 0);
  EXPECT_EQ(texts[0], QString());
  EXPECT_EQ(texts[1], QStringLiteral("P"));
  EXPECT_EQ(texts[6], QStringLiteral("日本"));
  EXPECT_EQ(TextsFrom(SplitFields(QStringLiteral("only")), 0)[11], QString());
}

TEST(ProjectLineTest, DataLinesTrimTheirFieldsAndSurviveBadInput) {
  const DataLine dir = ParseDataLine(QStringLiteral("1\t\\\t DOCS \t/h/docs\t20200102030405\t2"));
  EXPECT_TRUE(dir.is_directory);
  EXPECT_EQ(dir.parent, QStringLiteral("\\"));
  EXPECT_EQ(dir.name, QStringLiteral("DOCS"));
  EXPECT_EQ(dir.source, QStringLiteral("/h/docs"));
  EXPECT_EQ(dir.time_stamp, QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)));
  EXPECT_EQ(dir.attributes, 2);
  EXPECT_EQ(FormatDataLine(dir), QStringLiteral("1\t\\\tDOCS\t/h/docs\t20200102030405\t2"));

  const DataLine truncated = ParseDataLine(QStringLiteral("0\t\\A\\"));
  EXPECT_FALSE(truncated.is_directory);
  EXPECT_EQ(truncated.parent, QStringLiteral("\\A\\"));
  EXPECT_TRUE(truncated.name.isEmpty() && truncated.source.isEmpty());
  EXPECT_FALSE(truncated.time_stamp.has_value());

  EXPECT_EQ(ParseDataLine(QStringLiteral("-3\t\\\tx\t/x\tbad\t99999999")).attributes, INT16_MAX);
  EXPECT_TRUE(ParseDataLine(QStringLiteral("-3")).is_directory);
  EXPECT_EQ(ParseDataLine(QStringLiteral("0\t\\\tx\t/x\t1\t-70000")).attributes, INT16_MIN);
}

TEST(ProjectLineTest, AudioLinesKeepTheirFieldsAsTheyAre) {
  const AudioLine four = ParseAudioLine(QStringLiteral("4650\t75\t3\t /music/a b.wav "));
  EXPECT_EQ(four.pregap, 4650);
  EXPECT_EQ(four.postgap, 75);
  EXPECT_EQ(four.flags, 3);
  EXPECT_EQ(four.source, QStringLiteral(" /music/a b.wav "));
  EXPECT_FALSE(four.texts.has_value());
  EXPECT_EQ(FormatAudioLine(four), QStringLiteral("4650\t75\t3\t /music/a b.wav "));

  // Twelve empty texts are still texts.
  const AudioLine empty_texts = ParseAudioLine(QStringLiteral("150\t0\t2\t/a.wav") + QString(12, u'\t'));
  ASSERT_TRUE(empty_texts.texts.has_value());
  for (const QString& text : *empty_texts.texts) EXPECT_TRUE(text.isEmpty());
  EXPECT_EQ(FormatAudioLine(empty_texts), QStringLiteral("150\t0\t2\t/a.wav") + QString(12, u'\t'));

  const AudioLine five = ParseAudioLine(QStringLiteral("x\t\t\t/a.wav\tTitle"));
  EXPECT_EQ(five.pregap, 0);
  ASSERT_TRUE(five.texts.has_value());
  EXPECT_EQ((*five.texts)[0], QStringLiteral("Title"));
  EXPECT_EQ((*five.texts)[11], QString());
  EXPECT_EQ(ParseAudioLine(QString()).source, QString());
}

TEST(ProjectLineTest, WrittenTextsCannotShiftFieldsOrBreakTheLine) {
  EXPECT_EQ(CleanText(QStringLiteral("a\tb\rc\nd\r\n")), QStringLiteral("a b c d  "));
  Texts texts;
  texts[0] = QStringLiteral("Ti\ttle");
  texts[11] = QStringLiteral("end\r\n");
  const QString joined = JoinTexts(texts);
  EXPECT_EQ(joined.count(u'\t'), kTextCount - 1);
  EXPECT_FALSE(joined.contains(u'\r') || joined.contains(u'\n'));
  AudioLine line;
  line.source = QStringLiteral("/a.wav");
  line.texts = texts;
  const AudioLine again = ParseAudioLine(FormatAudioLine(line));
  ASSERT_TRUE(again.texts.has_value());
  EXPECT_EQ((*again.texts)[0], QStringLiteral("Ti tle"));
  EXPECT_EQ((*again.texts)[11], QStringLiteral("end  "));
}

// Source paths by their bytes: UTF-8 paths as every project file holds them,
// any other escaped, and each back byte for byte through a whole data line.
TEST(ProjectLineTest, SourcePathsSurviveTheLineByteForByte) {
  struct Case {
    std::string bytes;
    const char* field;  // as written
  } cases[] = {
      {"/home/u/a.txt", "/home/u/a.txt"},
      {"/home/u/\xE6\x97\xA5\xE6\x9C\xAC 50%.txt", "/home/u/日本 50%.txt"},
      {"/home/u/\xFF.txt", "file:///home/u/%FF.txt"},
      {"/home/u/cp932_\x93\xFA\x96\x7B.txt", "file:///home/u/cp932_%93%FA%96%7B.txt"},
      {"/home/u/odd\xFF\xFEname 100%.txt", "file:///home/u/odd%FF%FEname%20100%25.txt"},
      {"/home/u/ends with a blank ", "file:///home/u/ends%20with%20a%20blank%20"},
      {"/home/u/tab\tline\nbreak", "file:///home/u/tab%09line%0Abreak"},
      {"", ""},  // a dummy file has no source
  };
  for (const Case& c : cases) {
    const QByteArray bytes(c.bytes.data(), static_cast<qsizetype>(c.bytes.size()));
    SCOPED_TRACE(bytes.toHex().toStdString());
    const QString field = SourceField(bytes);
    EXPECT_EQ(field, QString::fromUtf8(c.field));
    EXPECT_EQ(SourcePath(field), bytes);
    DataLine line;
    line.parent = QStringLiteral("\\");
    line.name = QStringLiteral("n");
    line.source = field;
    EXPECT_EQ(SourcePath(ParseDataLine(FormatDataLine(line)).source), bytes);
  }
  // Older files: a plain path reads as its UTF-8 bytes.
  EXPECT_EQ(SourcePath(QStringLiteral("/x/報告書.txt")), QByteArray("/x/\xE5\xA0\xB1\xE5\x91\x8A\xE6\x9B\xB8.txt"));
}

// An escaped field that is not all "%" and two hex digits, or that holds a
// NUL byte, names no path (not the path before the NUL, nor another file).
TEST(ProjectLineTest, BrokenEscapesNameNoPath) {
  for (const char* field : {"file:///x/a%00b.txt", "file:///x/%zz.txt", "file:///x/%4", "file:///x/%", "file:///x/%+1.txt",
                            "file:///x/% 1.txt", "file:///x/%g0.txt"}) {
    EXPECT_EQ(SourcePath(QString::fromLatin1(field)), std::nullopt) << field;
  }
  EXPECT_EQ(SourcePath(QStringLiteral("file:///x/%41%62%2f.txt")), QByteArray("/x/Ab/.txt"));
}

}  // namespace
}  // namespace sorvel::project
