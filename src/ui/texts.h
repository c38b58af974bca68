// Every text the program shows, in English and Korean, and the rule that picks the language.
//
// Texts are narrow strings in the system's ANSI code page; the Korean ones are stored in code
// page 949, which is the ANSI code page whenever the system's default language is Korean.
// The language is asked anew each time a text is shown: nothing is decided once and cached.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace ui {

enum class TextId {
  MsgNeeds64Bit,
  MsgSecuritySetupFailed,
  WindowTitle,
  ConfirmCaption,
  ConfirmBody,
  StatusInitializing,
  MsgKeyboardHookFailed,
  MsgMouseHookFailed,
  MsgPowerCanUserWrite,
  MsgPowerReadGlobalPolicy,
  MsgPowerGetActive,
  MsgPowerSaveSetActive,
  MsgPowerRestoreSetActive,
  StatusNoCapsule,
  StatusLoading,
  StatusVerifying,
  StatusWrongModel,
  StatusInstalledNewer,
  StatusSameVersion,
  StatusChecking,
  StatusUpdating,
  StatusBitLockerNotSuspended,
  MsgFlashToolNotStarted,
  // Refusals before the flash: a flash that the battery cannot carry to its end bricks the machine.
  StatusNoAcPower,
  StatusBatteryLow,
  // Why the session may not end now: the warning the background picture of the language shows.
  ShutdownBlockReason,
};

// Which system setting decides whether an entry is shown in Korean.
enum class LanguageTest {
  SystemLanguage,  // GetSystemDefaultLangID
  SystemLocale,    // GetSystemDefaultLCID
};

struct TextEntry {
  TextId id;
  const char* english;
  const char* korean;  // null: the entry is shown in English in every language
  LanguageTest test;
};

// Lines written to the debugger output. They are not user texts and keep one wording.
enum class DebugLineId {
  CloseGuardRestored,
  CloseGuardFailed,
  BeforeShutdown,
  PowerOptionsApplied,
  PowerOptionsRestored,
};

// True when the system's default language identifier is Korean (0x0412).
bool IsKoreanSystemLanguage();
// True when the system's default locale identifier is exactly 0x00000412: a Korean locale
// with another sort order does not count.
bool IsKoreanSystemLocale();

// The entry's text in the language its test picks at the moment of the call.
const char* UiText(TextId id);
// The same text for the calls that take wide text, converted from the code page the catalogue
// is stored in; empty when it cannot be converted.
std::u16string UiWideText(TextId id);
const char* DebugLine(DebugLineId id);

// The whole catalogue, in TextId order.
std::span<const TextEntry> TextCatalogue();

}  // namespace ui
