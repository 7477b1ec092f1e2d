// Sense texts: every standard row against sg_decode_sense of sg3-utils, the
// rows in the program's own wording, the prefix and the fallbacks.
#include "gui/model/sense_text.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>
#include <map>
#include <string>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

// Rows whose text the program words its own way.
const std::map<uint32_t, QString> kOwnWording = {
    {0x015D01, QStringLiteral("FAILURE PREDICTION THRESHOLD EXCEEDED - Predicted Media failure")},
    {0x015D03, QStringLiteral("FAILURE PREDICTION THRESHOLD EXCEEDED - Predicted Spare Area Exhaustion")},
    {0x020402, QStringLiteral("LOGICAL UNIT NOT READY, INITIALIZING CMD. REQUIRED")},
    {0x056F02, QStringLiteral("COPY PROTECTION KEY EXCHANGE FAILURE -KEY NOT ESTABLISHED")},
    {0x056F05, QStringLiteral("LOGICAL UNIT REGION MUST BE PERMANENT/REGION RESET COUNT ERROR")},
};

QString Prefix(uint32_t code) {
  return QStringLiteral("(%1 %2 %3) ")
      .arg(QString::number(code >> 16, 16).toUpper())
      .arg((code >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
      .arg(code & 0xFF, 2, 16, QLatin1Char('0'))
      .toUpper();
}

TEST(SenseTextTest, StandardRowsMatchSgDecodeSense) {
  ASSERT_TRUE(testing::RequireTool("sg_decode_sense"));
  ASSERT_EQ(SenseTextRowCount(), 196);
  // One fixed-format sense buffer per row, decoded in one run per row.
  int compared = 0;
  for (int i = 0; i < SenseTextRowCount(); ++i) {
    const uint32_t code = SenseTextRowCode(i);
    const QString text = SenseDescription(static_cast<int32_t>(code));
    ASSERT_TRUE(text.startsWith(Prefix(code))) << text.toStdString();
    const QString description = text.mid(Prefix(code).size());
    if (auto own = kOwnWording.find(code); own != kOwnWording.end()) {
      EXPECT_EQ(description, own->second);
      continue;
    }
    const std::string command = QStringLiteral("sg_decode_sense 70 00 %1 00 00 00 00 0a 00 00 00 00 %2 %3")
                                    .arg(code >> 16, 2, 16, QLatin1Char('0'))
                                    .arg((code >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
                                    .arg(code & 0xFF, 2, 16, QLatin1Char('0'))
                                    .toStdString();
    std::string out;
    ASSERT_EQ(testing::RunCommand(command, &out), 0) << command;
    const auto match = QRegularExpression(QStringLiteral("Additional sense: (.*)")).match(QString::fromStdString(out));
    ASSERT_TRUE(match.hasMatch()) << out;
    EXPECT_EQ(description, match.captured(1).trimmed().toUpper()) << command;
    ++compared;
  }
  EXPECT_EQ(compared, 196 - static_cast<int>(kOwnWording.size()));
}

TEST(SenseTextTest, PrefixFallbacksAndSpecialStatuses) {
  const std::pair<int32_t, QString> cases[] = {
      {0, QString()},
      {0xFFFFFF, QStringLiteral("SCSI Command timeout (Unable to communicate with device)")},
      {0x7FFFFFFF, QStringLiteral("SCSI Command timeout (Unable to communicate with device)")},  // low 24 bits
      {0x052400, QStringLiteral("(5 24 00) INVALID FIELD IN CDB")},
      {0x0B4E00, QStringLiteral("(B 4E 00) OVERLAPPED COMMANDS ATTEMPTED")},
      {0x010B00, QStringLiteral("(1 0B 00) WARNING")},
      {0x063500, QStringLiteral("(6 35 00) ENCLOSURE SERVICES FAILURE")},
      {0x023400, QStringLiteral("(2 34 00) ENCLOSURE FAILURE")},
      {0x003504, QStringLiteral("(0 35 04) ENCLOSURE SERVICES TRANSFER REFUSED")},
      {0x032400, QStringLiteral("(3 24 00) UNKNOWN ERROR")},  // known pair under another key
      {0x0F0000 | 0xABCD, QStringLiteral("(F AB CD) UNKNOWN ERROR")},
      {0x044080, QStringLiteral("(4 40 80) DIAGNOSTIC FAILURE ON COMPONENT (80H)")},
      {0x04400A, QStringLiteral("(4 40 0A) DIAGNOSTIC FAILURE ON COMPONENT (0AH)")},
      {0x0B4D05, QStringLiteral("(B 4D 05) TAGGED OVERLAPPED COMMANDS (05 = QUEUE TAG)")},
      {0x054080, QStringLiteral("(5 40 80) UNKNOWN ERROR")},
  };
  for (const auto& [status, text] : cases) EXPECT_EQ(SenseDescription(status), text) << std::hex << status;
}

}  // namespace
}  // namespace sorvel
