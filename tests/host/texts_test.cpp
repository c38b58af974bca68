#include <gtest/gtest.h>

#include <ostream>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace {

using testing_support::SimTest;
using ui::TextId;

// What the Korean texts must be once written out in code page 949, computed here with the C
// library's converter from the same words in UTF-8.
std::string ToCodePage949(const std::string& utf8) {
  iconv_t converter = iconv_open("CP949", "UTF-8");
  EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  const std::size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  EXPECT_NE(done, static_cast<std::size_t>(-1)) << utf8;
  out.resize(out.size() - outLeft);
  return out;
}

struct KoreanCase {
  TextId id;
  const char* utf8;
  std::size_t bytes;
};

const KoreanCase kKoreanCases[] = {
    {TextId::MsgSecuritySetupFailed, "권한 설정 실패", 14},
    {TextId::WindowTitle, "BIOS 업데이트 프로그램", 22},
    {TextId::ConfirmBody,
     "BIOS Update 진행 중에는 절대 전원을 끄지 마십시오.\r\n"
     "BIOS Update 후 BIOS 설정이 초기화 됩니다.\r\n"
     "Windows7 OS를 설치할 경우 설정을 다음과 같이 변경해야 합니다.\r\n"
     "\r\n"
     "  1. BIOS Setup(F2) > Security\r\n"
     "  2. Secure Boot Configuration > Secure Boot Option : Off\r\n"
     "  3. Save & Exit",
     267},
    {TextId::StatusInitializing, "BIOS 업데이트하기 위한 준비 작업중 입니다.", 42},
    {TextId::StatusNoCapsule, "현재 시스템에는 BIOS를 업데이트 할 수 없습니다.", 47},
    {TextId::StatusLoading, "BIOS 업데이트 할 파일을 로딩중 입니다.", 38},
    {TextId::StatusVerifying, "시스템 BIOS 버전을 확인중 입니다.", 33},
    {TextId::StatusWrongModel, "현재 시스템에는 BIOS를 업데이트 할 수 없습니다.", 47},
    {TextId::StatusInstalledNewer,
     "현재 시스템 BIOS Version이 업데이트하려는 BIOS Version보다 최신 입니다.", 71},
    {TextId::StatusSameVersion,
     "현재 시스템 BIOS Version과 업데이트하려는 BIOS Version이 동일 합니다.", 69},
    {TextId::StatusChecking, "BIOS 업데이트하기 위한 상태를 점검중 입니다.", 44},
    {TextId::StatusUpdating, "업데이트 수행중입니다. 완료까지는 약 3분정도 소요 됩니다.", 57},
};

std::ostream& operator<<(std::ostream& os, const KoreanCase& c) {
  return os << "text " << static_cast<int>(c.id) << ", " << c.bytes << " bytes";
}

class KoreanText : public SimTest, public ::testing::WithParamInterface<KoreanCase> {};

TEST_P(KoreanText, IsStoredInCodePage949WithItsByteCount) {
  SetKorean();
  const std::string shown = ui::UiText(GetParam().id);
  EXPECT_EQ(shown.size(), GetParam().bytes);
  EXPECT_EQ(shown, ToCodePage949(GetParam().utf8));
}

INSTANTIATE_TEST_SUITE_P(Catalogue, KoreanText, ::testing::ValuesIn(kKoreanCases));

using TextsTest = SimTest;

TEST_F(TextsTest, CatalogueHas22EntriesNineEnglishOnlyAndOneSharedCaption) {
  const auto catalogue = ui::TextCatalogue();
  EXPECT_EQ(catalogue.size(), 22u);
  std::vector<ui::TextId> withoutKorean;
  for (const ui::TextEntry& entry : catalogue) {
    if (entry.korean == nullptr) withoutKorean.push_back(entry.id);
  }
  // The nine English-only messages, and ConfirmCaption, one text for both languages.
  using ui::TextId;
  EXPECT_EQ(withoutKorean,
            (std::vector<TextId>{TextId::MsgNeeds64Bit, TextId::ConfirmCaption,
                                 TextId::MsgKeyboardHookFailed, TextId::MsgMouseHookFailed,
                                 TextId::MsgPowerCanUserWrite, TextId::MsgPowerReadGlobalPolicy,
                                 TextId::MsgPowerGetActive, TextId::MsgPowerSaveSetActive,
                                 TextId::MsgPowerRestoreSetActive, TextId::MsgFlashToolNotStarted}));
  EXPECT_EQ(sizeof(kKoreanCases) / sizeof(kKoreanCases[0]), catalogue.size() - withoutKorean.size());
}

TEST_F(TextsTest, EnglishSystemShowsEveryTextInEnglish) {
  for (const ui::TextEntry& entry : ui::TextCatalogue()) {
    EXPECT_STREQ(ui::UiText(entry.id), entry.english);
    for (const char* c = entry.english; *c != '\0'; ++c) {
      EXPECT_LT(static_cast<unsigned char>(*c), 0x80) << entry.english;
    }
  }
}

TEST_F(TextsTest, KoreanSystemKeepsEnglishOnlyEntriesAndTheQuestionCaption) {
  SetKorean();
  EXPECT_STREQ(ui::UiText(TextId::ConfirmCaption), "BIOS update");
  EXPECT_STREQ(ui::UiText(TextId::MsgNeeds64Bit), "Norvik BIOS Updater only for 64-bit OS.");
  EXPECT_STREQ(ui::UiText(TextId::MsgKeyboardHookFailed), "Keyboard HOOK Error!!");
  EXPECT_STREQ(ui::UiText(TextId::MsgFlashToolNotStarted), "Cannot excute WinFlash64.exe");
  EXPECT_STREQ(ui::UiText(TextId::MsgPowerRestoreSetActive), "RESTORE SetActivePwrScheme Error");
}

TEST_F(TextsTest, EnglishConfirmationHasSevenCrLfLinesWithIndentedSteps) {
  EXPECT_STREQ(ui::UiText(TextId::ConfirmBody),
               "Do not turn off the power.\r\n"
               "BIOS settings will be set to the default values after the update.\r\n"
               "If you install Windows 7, settings must be changed as below.\r\n"
               "\r\n"
               "  1. BIOS Setup(F2) > Security\r\n"
               "  2. Secure Boot Configuration > Secure Boot Option : Off\r\n"
               "  3. Save & Exit");
}

TEST_F(TextsTest, MissingCapsuleAndWrongModelDifferOnlyByTheFullStopInEnglish) {
  EXPECT_EQ(std::string(ui::UiText(TextId::StatusNoCapsule)),
            std::string(ui::UiText(TextId::StatusWrongModel)) + ".");
  SetKorean();
  EXPECT_STREQ(ui::UiText(TextId::StatusNoCapsule), ui::UiText(TextId::StatusWrongModel));
}

// The language and the locale are separate settings: the security message follows the
// locale identifier, every other text the language identifier.
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

TEST_F(TextsTest, DebugLinesAreFixedAndKoreanOnesInCodePage949) {
  EXPECT_STREQ(ui::DebugLine(ui::DebugLineId::CloseGuardRestored), "WM_CLOSE true");
  EXPECT_STREQ(ui::DebugLine(ui::DebugLineId::CloseGuardFailed), "WM_CLOSE false");
  EXPECT_EQ(ui::DebugLine(ui::DebugLineId::BeforeShutdown), ToCodePage949("Shutdown 전의 루틴 진입"));
  EXPECT_EQ(ui::DebugLine(ui::DebugLineId::PowerOptionsApplied),
            ToCodePage949("파워옵션이 실행이 되었습니다."));
  EXPECT_EQ(ui::DebugLine(ui::DebugLineId::PowerOptionsRestored),
            ToCodePage949("복원이 실행이 되었습니다."));
}

struct NameCase {
  const char* path;
  const char* name;
};

std::ostream& operator<<(std::ostream& os, const NameCase& c) { return os << c.path; }

class ApplicationName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ApplicationName, IsTheFileNameWithoutExtension) {
  EXPECT_EQ(ui::ApplicationNameFromPath(GetParam().path), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ApplicationName,
    ::testing::Values(NameCase{"C:\\Users\\User\\Downloads\\BIOSUpdate.exe", "BIOSUpdate"},
                      NameCase{"C:\\Tools\\bios.v2\\Renamed.Copy.exe", "Renamed.Copy"},
                      NameCase{"Z:/wine/BIOSUpdate.EXE", "BIOSUpdate"},
                      NameCase{"C:\\NoExtension", "NoExtension"}));

}  // namespace
