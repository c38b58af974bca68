#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "sim_fixture.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace {

using testing_support::SimTest;
using ui::TextId;

// Every text as the user gets it, byte for byte: the English one, and the Korean one in code
// page 949 (none: the English text in both languages).
struct TextRow {
  TextId id;
  const char* english;
  const char* korean;
};

const TextRow kTexts[] = {
    {TextId::MsgNeeds64Bit, "Norvik BIOS Updater only for 64-bit OS.", nullptr},
    {TextId::MsgSecuritySetupFailed, "The fail of authority Setting", "\xB1\xC7\xC7\xD1 \xBC\xB3\xC1\xA4 \xBD\xC7\xC6\xD0"},
    {TextId::WindowTitle, "BIOS Update Program", "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE \xC7\xC1\xB7\xCE\xB1\xD7\xB7\xA5"},
    {TextId::ConfirmCaption, "BIOS update", nullptr},
    {TextId::ConfirmBody,
     "Do not turn off the power.\r\n"
     "BIOS settings will be set to the default values after the update.\r\n"
     "If you install Windows 7, settings must be changed as below.\r\n"
     "\r\n"
     "  1. BIOS Setup(F2) > Security\r\n"
     "  2. Secure Boot Configuration > Secure Boot Option : Off\r\n"
     "  3. Save & Exit",
     "BIOS Update \xC1\xF8\xC7\xE0 \xC1\xDF\xBF\xA1\xB4\xC2 \xC0\xFD\xB4\xEB \xC0\xFC\xBF\xF8\xC0\xBB \xB2\xF4\xC1\xF6 \xB8\xB6\xBD\xCA\xBD\xC3\xBF\xC0.\r\n"
     "BIOS Update \xC8\xC4 BIOS \xBC\xB3\xC1\xA4\xC0\xCC \xC3\xCA\xB1\xE2\xC8\xAD \xB5\xCB\xB4\xCF\xB4\xD9.\r\n"
     "Windows7 OS\xB8\xA6 \xBC\xB3\xC4\xA1\xC7\xD2 \xB0\xE6\xBF\xEC \xBC\xB3\xC1\xA4\xC0\xBB \xB4\xD9\xC0\xBD\xB0\xFA \xB0\xB0\xC0\xCC \xBA\xAF\xB0\xE6\xC7\xD8\xBE\xDF \xC7\xD5\xB4\xCF\xB4\xD9.\r\n"
     "\r\n"
     "  1. BIOS Setup(F2) > Security\r\n"
     "  2. Secure Boot Configuration > Secure Boot Option : Off\r\n"
     "  3. Save & Exit"},
    {TextId::StatusInitializing, "Initializing for BIOS update",
     "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xC7\xCF\xB1\xE2 \xC0\xA7\xC7\xD1 \xC1\xD8\xBA\xF1 \xC0\xDB\xBE\xF7\xC1\xDF \xC0\xD4\xB4\xCF\xB4\xD9."},
    {TextId::MsgKeyboardHookFailed, "Keyboard HOOK Error!!", nullptr},
    {TextId::MsgMouseHookFailed, "Mouse HOOK Error!!", nullptr},
    {TextId::MsgPowerCanUserWrite, "CanUserWritePwrScheme Error", nullptr},
    {TextId::MsgPowerReadGlobalPolicy, "ReadGlobalPwrPolicy Error", nullptr},
    {TextId::MsgPowerGetActive, "GetActivePwrScheme Error", nullptr},
    {TextId::MsgPowerSaveSetActive, "SAVE SetActivePwrScheme Error", nullptr},
    {TextId::MsgPowerRestoreSetActive, "RESTORE SetActivePwrScheme Error", nullptr},
    {TextId::StatusNoCapsule, "Can not update BIOS update on your system.",
     "\xC7\xF6\xC0\xE7 \xBD\xC3\xBD\xBA\xC5\xDB\xBF\xA1\xB4\xC2 BIOS\xB8\xA6 \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE \xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
    {TextId::StatusLoading, "Loading BIOS update files.",
     "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE \xC7\xD2 \xC6\xC4\xC0\xCF\xC0\xBB \xB7\xCE\xB5\xF9\xC1\xDF \xC0\xD4\xB4\xCF\xB4\xD9."},
    {TextId::StatusVerifying, "Verifing your system BIOS version.",
     "\xBD\xC3\xBD\xBA\xC5\xDB BIOS \xB9\xF6\xC0\xFC\xC0\xBB \xC8\xAE\xC0\xCE\xC1\xDF \xC0\xD4\xB4\xCF\xB4\xD9."},
    {TextId::StatusWrongModel, "Can not update BIOS update on your system",
     "\xC7\xF6\xC0\xE7 \xBD\xC3\xBD\xBA\xC5\xDB\xBF\xA1\xB4\xC2 BIOS\xB8\xA6 \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE \xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9."},
    {TextId::StatusInstalledNewer, "Target System BIOS is newer than the source System BIOS.",
     "\xC7\xF6\xC0\xE7 \xBD\xC3\xBD\xBA\xC5\xDB BIOS Version\xC0\xCC \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xC7\xCF\xB7\xC1\xB4\xC2 BIOS Version\xBA\xB8\xB4\xD9 \xC3\xD6\xBD\xC5 \xC0\xD4\xB4\xCF\xB4\xD9."},
    {TextId::StatusSameVersion, "Target System BIOS and source System BIOS are same Version.",
     "\xC7\xF6\xC0\xE7 \xBD\xC3\xBD\xBA\xC5\xDB BIOS Version\xB0\xFA \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xC7\xCF\xB7\xC1\xB4\xC2 BIOS Version\xC0\xCC \xB5\xBF\xC0\xCF \xC7\xD5\xB4\xCF\xB4\xD9."},
    {TextId::StatusChecking, "Checking for BIOS update on your system.",
     "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xC7\xCF\xB1\xE2 \xC0\xA7\xC7\xD1 \xBB\xF3\xC5\xC2\xB8\xA6 \xC1\xA1\xB0\xCB\xC1\xDF \xC0\xD4\xB4\xCF\xB4\xD9."},
    {TextId::StatusUpdating, "Updating now. Approximately 3 minutes to completion.",
     "\xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE \xBC\xF6\xC7\xE0\xC1\xDF\xC0\xD4\xB4\xCF\xB4\xD9. \xBF\xCF\xB7\xE1\xB1\xEE\xC1\xF6\xB4\xC2 \xBE\xE0 3\xBA\xD0\xC1\xA4\xB5\xB5 \xBC\xD2\xBF\xE4 \xB5\xCB\xB4\xCF\xB4\xD9."},
    {TextId::StatusBitLockerNotSuspended, "BitLocker could not be suspended. Suspend BitLocker, then update BIOS.",
     "BitLocker\xB8\xA6 \xC0\xCF\xBD\xC3 \xC1\xDF\xB4\xDC\xC7\xD2 \xBC\xF6 \xBE\xF8\xBD\xC0\xB4\xCF\xB4\xD9. BitLocker\xB8\xA6 \xC0\xCF\xBD\xC3 \xC1\xDF\xB4\xDC\xC7\xD1 \xC8\xC4 BIOS\xB8\xA6 \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0."},
    {TextId::MsgFlashToolNotStarted, "Cannot excute WinFlash64.exe", nullptr},
    {TextId::StatusNoAcPower, "Connect the AC adapter to update BIOS.",
     "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xB8\xA6 \xC7\xCF\xB7\xC1\xB8\xE9 AC \xBE\xEE\xB4\xF0\xC5\xCD\xB8\xA6 \xBF\xAC\xB0\xE1\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0."},
    {TextId::StatusBatteryLow, "Charge the battery to 25% or more to update BIOS.",
     "BIOS \xBE\xF7\xB5\xA5\xC0\xCC\xC6\xAE\xB8\xA6 \xC7\xCF\xB7\xC1\xB8\xE9 \xB9\xE8\xC5\xCD\xB8\xAE\xB8\xA6 25% \xC0\xCC\xBB\xF3 \xC3\xE6\xC0\xFC\xC7\xCF\xBD\xCA\xBD\xC3\xBF\xC0."},
};

// The debugger's lines: one wording whatever the language.
const std::pair<ui::DebugLineId, const char*> kDebugLines[] = {
    {ui::DebugLineId::CloseGuardRestored, "WM_CLOSE true"},
    {ui::DebugLineId::CloseGuardFailed, "WM_CLOSE false"},
    {ui::DebugLineId::BeforeShutdown, "Shutdown \xC0\xFC\xC0\xC7 \xB7\xE7\xC6\xBE \xC1\xF8\xC0\xD4"},
    {ui::DebugLineId::PowerOptionsApplied, "\xC6\xC4\xBF\xF6\xBF\xC9\xBC\xC7\xC0\xCC \xBD\xC7\xC7\xE0\xC0\xCC \xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9."},
    {ui::DebugLineId::PowerOptionsRestored, "\xBA\xB9\xBF\xF8\xC0\xCC \xBD\xC7\xC7\xE0\xC0\xCC \xB5\xC7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9."},
};

using TextsTest = SimTest;

TEST_F(TextsTest, EveryTextIsShownByteForByteInTheSystemsLanguage) {
  for (const bool korean : {false, true}) {
    if (korean) SetKorean();
    for (const TextRow& row : kTexts) {
      EXPECT_EQ(std::string(ui::UiText(row.id)), korean && row.korean != nullptr ? row.korean : row.english)
          << "text " << static_cast<int>(row.id) << (korean ? " on a Korean system" : "");
    }
    for (const auto& [id, line] : kDebugLines) EXPECT_STREQ(ui::DebugLine(id), line);
  }
}

// The power-supply and BitLocker refusals, counted in code page 949 bytes.
TEST_F(TextsTest, NewRefusalsHaveTheirKoreanLengths) {
  SetKorean();
  EXPECT_EQ(std::string(ui::UiText(TextId::StatusNoAcPower)).size(), 48u);
  EXPECT_EQ(std::string(ui::UiText(TextId::StatusBatteryLow)).size(), 54u);
  EXPECT_EQ(std::string(ui::UiText(TextId::StatusBitLockerNotSuspended)).size(), 88u);
}

// The language and the locale are separate settings: the security message follows the
// locale identifier, every other text the language identifier. (Shared with the whole runs
// whose COM security fails, where the message is the only text.)
struct LanguageCase {
  win::LANGID language;
  win::LCID locale;
  bool koreanTitle;
  bool koreanSecurityMessage;
};

std::ostream& operator<<(std::ostream& os, const LanguageCase& c) {
  return os << std::hex << "language 0x" << c.language << " locale 0x" << c.locale;
}

class LanguageRule : public SimTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LanguageRule, PicksEachTextByItsOwnTest) {
  machine().languageId = GetParam().language;
  machine().localeId = GetParam().locale;
  EXPECT_EQ(std::string(ui::UiText(TextId::WindowTitle)) != "BIOS Update Program",
            GetParam().koreanTitle);
  EXPECT_EQ(std::string(ui::UiText(TextId::MsgSecuritySetupFailed)) !=
                "The fail of authority Setting",
            GetParam().koreanSecurityMessage);
}

TEST_P(LanguageRule, SecurityFailureShowsTheLocalesMessageAskingTheLocaleAloneAndEndsWithoutWindow) {
  machine().languageId = GetParam().language;
  machine().localeId = GetParam().locale;
  machine().FailCall("CoInitializeSecurity", {.error = 0x80010119u});
  EXPECT_FALSE(Ended(sim::RunProcess("")).exitedThroughCrt);
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  const sim::MessageBoxRecord& box = machine().windows.MessageBoxes()[0];
  EXPECT_EQ(box.text, GetParam().koreanSecurityMessage ? "\xB1\xC7\xC7\xD1 \xBC\xB3\xC1\xA4 \xBD\xC7\xC6\xD0"
                                                       : "The fail of authority Setting");
  EXPECT_EQ(box.caption, "BIOSUpdate");
  EXPECT_EQ(box.flags, 0x30u);  // MB_OK | MB_ICONEXCLAMATION
  EXPECT_TRUE(machine().windows.WindowsCreated().empty());
  EXPECT_EQ(machine().CountCalls("GetSystemDefaultLCID"), 1);
  EXPECT_EQ(machine().CountCalls("GetSystemDefaultLangID"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LanguageRule,
    ::testing::Values(LanguageCase{0x0409, 0x0409, false, false},
                      LanguageCase{0x0412, 0x0412, true, true},
                      // Korean language with a Korean locale of another sort order.
                      LanguageCase{0x0412, 0x00010412, true, false},
                      LanguageCase{0x0409, 0x0412, false, true},
                      // Korean under another primary language id is not Korean.
                      LanguageCase{0x0812, 0x0812, false, false}));

TEST_F(TextsTest, LanguageIsAskedAtEveryTextNotOnce) {
  EXPECT_STREQ(ui::UiText(TextId::StatusLoading), "Loading BIOS update files.");
  SetKorean();
  EXPECT_NE(std::string(ui::UiText(TextId::StatusLoading)), "Loading BIOS update files.");
  machine().languageId = 0x0409;
  EXPECT_STREQ(ui::UiText(TextId::StatusLoading), "Loading BIOS update files.");
}

TEST_F(TextsTest, EnglishOnlyTextsDoNotAskTheSystem) {
  ui::UiText(TextId::MsgNeeds64Bit);
  ui::UiText(TextId::ConfirmCaption);
  EXPECT_EQ(machine().CountCalls("GetSystemDefaultLangID"), 0);
  EXPECT_EQ(machine().CountCalls("GetSystemDefaultLCID"), 0);
}

TEST(ApplicationName, IsTheFileNameWithoutExtension) {
  const std::pair<const char*, const char*> paths[] = {{"C:\\Users\\User\\Downloads\\BIOSUpdate.exe", "BIOSUpdate"},
                                                       {"C:\\Tools\\bios.v2\\Renamed.Copy.exe", "Renamed.Copy"},
                                                       {"Z:/wine/BIOSUpdate.EXE", "BIOSUpdate"},
                                                       {"C:\\NoExtension", "NoExtension"}};
  for (const auto& [path, name] : paths) EXPECT_EQ(ui::ApplicationNameFromPath(path), name) << path;
}

}  // namespace
