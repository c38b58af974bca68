// The text catalogue. This file is written in UTF-8 and compiled with the narrow execution
// character set CP949, so every Korean literal below is stored as code page 949 bytes.
#include "ui/texts.h"

#include <array>
#include <cstddef>

#include "platform/services.h"

namespace ui {
namespace {

constexpr win::LANGID kKoreanLanguageId = 0x0412;
constexpr win::LCID kKoreanLocaleId = 0x00000412;
// Every text of the catalogue is stored in this code page; the English ones are ASCII, which
// reads the same in it.
constexpr win::UINT kCatalogueCodePage = 949;
constexpr int kWholeText = -1;

// Message box lines are joined by CR LF; the last line has none.
#define CRLF "\r\n"

constexpr const char* kConfirmBodyEnglish =
    "Do not turn off the power." CRLF
    "BIOS settings will be set to the default values after the update." CRLF
    "If you install Windows 7, settings must be changed as below." CRLF
    CRLF
    "  1. BIOS Setup(F2) > Security" CRLF
    "  2. Secure Boot Configuration > Secure Boot Option : Off" CRLF
    "  3. Save & Exit";

constexpr const char* kConfirmBodyKorean =
    "BIOS Update 진행 중에는 절대 전원을 끄지 마십시오." CRLF
    "BIOS Update 후 BIOS 설정이 초기화 됩니다." CRLF
    "Windows7 OS를 설치할 경우 설정을 다음과 같이 변경해야 합니다." CRLF
    CRLF
    "  1. BIOS Setup(F2) > Security" CRLF
    "  2. Secure Boot Configuration > Secure Boot Option : Off" CRLF
    "  3. Save & Exit";

#undef CRLF

// Refusing the capsule because it is missing and because it belongs to another model reads
// the same in Korean; in English only the final full stop tells them apart.
constexpr const char* kCannotUpdateKorean = "현재 시스템에는 BIOS를 업데이트 할 수 없습니다.";

using enum TextId;
using enum LanguageTest;

constexpr std::array kCatalogue{
    TextEntry{MsgNeeds64Bit, "Norvik BIOS Updater only for 64-bit OS.", nullptr, SystemLanguage},
    TextEntry{MsgSecuritySetupFailed, "The fail of authority Setting", "권한 설정 실패", SystemLocale},
    TextEntry{WindowTitle, "BIOS Update Program", "BIOS 업데이트 프로그램", SystemLanguage},
    TextEntry{ConfirmCaption, "BIOS update", nullptr, SystemLanguage},
    TextEntry{ConfirmBody, kConfirmBodyEnglish, kConfirmBodyKorean, SystemLanguage},
    TextEntry{StatusInitializing, "Initializing for BIOS update",
              "BIOS 업데이트하기 위한 준비 작업중 입니다.", SystemLanguage},
    TextEntry{MsgKeyboardHookFailed, "Keyboard HOOK Error!!", nullptr, SystemLanguage},
    TextEntry{MsgMouseHookFailed, "Mouse HOOK Error!!", nullptr, SystemLanguage},
    TextEntry{MsgPowerCanUserWrite, "CanUserWritePwrScheme Error", nullptr, SystemLanguage},
    TextEntry{MsgPowerReadGlobalPolicy, "ReadGlobalPwrPolicy Error", nullptr, SystemLanguage},
    TextEntry{MsgPowerGetActive, "GetActivePwrScheme Error", nullptr, SystemLanguage},
    TextEntry{MsgPowerSaveSetActive, "SAVE SetActivePwrScheme Error", nullptr, SystemLanguage},
    TextEntry{MsgPowerRestoreSetActive, "RESTORE SetActivePwrScheme Error", nullptr, SystemLanguage},
    TextEntry{StatusNoCapsule, "Can not update BIOS update on your system.", kCannotUpdateKorean,
              SystemLanguage},
    TextEntry{StatusLoading, "Loading BIOS update files.", "BIOS 업데이트 할 파일을 로딩중 입니다.",
              SystemLanguage},
    TextEntry{StatusVerifying, "Verifing your system BIOS version.",
              "시스템 BIOS 버전을 확인중 입니다.", SystemLanguage},
    TextEntry{StatusWrongModel, "Can not update BIOS update on your system", kCannotUpdateKorean,
              SystemLanguage},
    TextEntry{StatusInstalledNewer, "Target System BIOS is newer than the source System BIOS.",
              "현재 시스템 BIOS Version이 업데이트하려는 BIOS Version보다 최신 입니다.", SystemLanguage},
    TextEntry{StatusSameVersion, "Target System BIOS and source System BIOS are same Version.",
              "현재 시스템 BIOS Version과 업데이트하려는 BIOS Version이 동일 합니다.", SystemLanguage},
    TextEntry{StatusChecking, "Checking for BIOS update on your system.",
              "BIOS 업데이트하기 위한 상태를 점검중 입니다.", SystemLanguage},
    TextEntry{StatusUpdating, "Updating now. Approximately 3 minutes to completion.",
              "업데이트 수행중입니다. 완료까지는 약 3분정도 소요 됩니다.", SystemLanguage},
    TextEntry{StatusBitLockerNotSuspended, "BitLocker could not be suspended. Suspend BitLocker, then update BIOS.",
              "BitLocker를 일시 중단할 수 없습니다. BitLocker를 일시 중단한 후 BIOS를 업데이트하십시오.", SystemLanguage},
    TextEntry{MsgFlashToolNotStarted, "Cannot excute WinFlash64.exe", nullptr, SystemLanguage},
    TextEntry{StatusNoAcPower, "Connect the AC adapter to update BIOS.",
              "BIOS 업데이트를 하려면 AC 어댑터를 연결하십시오.", SystemLanguage},
    TextEntry{StatusBatteryLow, "Charge the battery to 25% or more to update BIOS.",
              "BIOS 업데이트를 하려면 배터리를 25% 이상 충전하십시오.", SystemLanguage},
    TextEntry{ShutdownBlockReason, "Do not turn off the power.",
              "BIOS 업데이트 작업이 진행 중일 때에는 절대로 전원을 끄지 마십시오.", SystemLanguage},
};

// The catalogue is indexed by TextId; a reordering would silently show wrong texts.
constexpr bool CatalogueInIdOrder() {
  for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
    if (static_cast<std::size_t>(kCatalogue[i].id) != i) return false;
  }
  return true;
}
static_assert(CatalogueInIdOrder(), "text catalogue out of TextId order");

constexpr std::array kDebugLines{
    "WM_CLOSE true",
    "WM_CLOSE false",
    "Shutdown 전의 루틴 진입",
    "파워옵션이 실행이 되었습니다.",
    "복원이 실행이 되었습니다.",
};
static_assert(kDebugLines.size() == static_cast<std::size_t>(DebugLineId::PowerOptionsRestored) + 1);

bool TestHolds(LanguageTest test) {
  return test == SystemLocale ? IsKoreanSystemLocale() : IsKoreanSystemLanguage();
}

}  // namespace

bool IsKoreanSystemLanguage() { return win::GetSystemDefaultLangID() == kKoreanLanguageId; }

bool IsKoreanSystemLocale() { return win::GetSystemDefaultLCID() == kKoreanLocaleId; }

const char* UiText(TextId id) {
  const TextEntry& entry = kCatalogue[static_cast<std::size_t>(id)];
  if (entry.korean != nullptr && TestHolds(entry.test)) return entry.korean;
  return entry.english;
}

std::u16string UiWideText(TextId id) {
  const char* text = UiText(id);
  const int length = win::MultiByteToWideChar(kCatalogueCodePage, 0, text, kWholeText, nullptr, 0);
  if (length <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(length), u'\0');
  if (win::MultiByteToWideChar(kCatalogueCodePage, 0, text, kWholeText, wide.data(), length) != length) return {};
  wide.resize(static_cast<std::size_t>(length) - 1);  // the terminating NUL the count included
  return wide;
}

const char* DebugLine(DebugLineId id) { return kDebugLines[static_cast<std::size_t>(id)]; }

std::span<const TextEntry> TextCatalogue() { return kCatalogue; }

}  // namespace ui
