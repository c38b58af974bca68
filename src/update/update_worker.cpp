#include "update/update_worker.h"

#include "app/working_folder.h"
#include "guards/bitlocker.h"
#include "guards/crash_guard.h"
#include "guards/input_lock.h"
#include "guards/power_supply.h"
#include "platform/handle.h"
#include "platform/services.h"
#include "ui/message_box.h"
#include "ui/texts.h"
#include "update/controller_dialog.h"
#include "update/flash_run.h"

namespace update {
namespace {

const char* Text(ui::TextId id) { return ui::UiText(id); }

bool IsDotEntry(const char* name) {
  return std::string_view(name) == "." || std::string_view(name) == "..";
}

}  // namespace

std::string UpperCased(std::string text) {
  if (!text.empty()) win::CharUpperBuffA(text.data(), static_cast<win::DWORD>(text.size()));
  return text;
}

win::BOOL CHWDriverDownloadThread::InitInstance() {
  guards::GuardThreadStack();
  m_startedMs = win::GetTickCount64();
  Wait(kStartDelayMs);
  RunUpdateSequence();
  return win::FALSE;
}

std::string CHWDriverDownloadThread::FindCapsule(const std::string& pattern) {
  win::WIN32_FIND_DATAA found;
  win::UniqueFind search(win::FindFirstFileA(pattern.c_str(), &found));
  if (!search.Valid()) return {};
  do {
    if (!IsDotEntry(found.cFileName) && found.cFileName[0] != '\0') return found.cFileName;
  } while (win::FindNextFileA(search.Get(), &found) != win::FALSE);
  return {};
}

bool CHWDriverDownloadThread::WriteUpdateMarker() {
  win::UniqueRegistryKey key;
  if (win::RegOpenKeyExA(win::HKEY_USERS, kMarkerKey, 0, win::KEY_SET_VALUE, key.Put()) != win::ERROR_SUCCESS &&
      win::RegCreateKeyA(win::HKEY_USERS, kMarkerKey, key.Put()) != win::ERROR_SUCCESS) {
    return false;
  }
  return win::RegSetValueExA(key.Get(), kMarkerValueName, 0, win::REG_SZ,
                             reinterpret_cast<const win::BYTE*>(kMarkerValue), kMarkerByteCount) == win::ERROR_SUCCESS;
}

void CHWDriverDownloadThread::Wait(win::DWORD ms) {
  m_scheduleMs += ms;
  const std::uint64_t due = m_startedMs + m_scheduleMs;
  const std::uint64_t now = win::GetTickCount64();
  win::Sleep(due > now ? static_cast<win::DWORD>(due - now) : 0);
}

void CHWDriverDownloadThread::RestartScheduleFromNow() { m_scheduleMs = win::GetTickCount64() - m_startedMs; }

bool CHWDriverDownloadThread::SuspendBitLocker() {
  if (guards::SuspendBitLockerForOneRestart() != guards::BitLockerStep::Failed) return true;
  guards::ResumeBitLockerIfSuspended();
  RestartScheduleFromNow();
  Refuse(Text(ui::TextId::StatusBitLockerNotSuspended), kBitLockerRefusalPauseMs);
  return false;
}

void CHWDriverDownloadThread::ShowStatus(std::string text) {
  m_owner->SetStatusText(std::move(text));
  win::InvalidateRect(m_owner->m_hWnd, nullptr, win::FALSE);
}

// The finish message is the only thing that undoes the locks after a flash: a post that the
// system refused (a full queue) is tried again after a pause.
void CHWDriverDownloadThread::Finish(win::WPARAM restart) {
  for (int attempt = 0; attempt < kFinishPostAttempts; ++attempt) {
    if (win::PostMessageA(m_owner->m_hWnd, kFinishMessage, restart, 0) != win::FALSE) return;
    win::Sleep(kFinishRetryPauseMs);
  }
}

void CHWDriverDownloadThread::Refuse(const char* text, win::DWORD pauseMs) {
  WriteUpdateMarker();
  ShowStatus(text);
  Wait(pauseMs);
  win::SetTimer(m_owner->m_hWnd, kQuitTimer, kQuitTimerMs, nullptr);
  Finish(kFinishWithoutRestart);
}

void CHWDriverDownloadThread::RunUpdateSequence() {
  // A working folder that cannot be named holds no capsule.
  const std::optional<std::string> capsulePath = app::CapsulePath();
  m_foundCapsuleName = capsulePath ? FindCapsule(*capsulePath) : std::string();
  const std::string found = m_foundCapsuleName;
  if (found.empty()) {
    Refuse(Text(ui::TextId::StatusNoCapsule), kRefusalPauseMs);
    return;
  }

  // The text is chosen now and shown after the pause.
  std::string loading = Text(ui::TextId::StatusLoading);
  Wait(kLoadingDelayMs);
  ShowStatus(std::move(loading));
  Wait(kStepPauseMs);

  const std::string foundUpper = UpperCased(found);
  ShowStatus(Text(ui::TextId::StatusVerifying));
  Wait(kStepPauseMs);

  const std::string running = UpperCased(m_owner->RunningBiosVersion());
  const VerdictResult verdict = DecideVersion(foundUpper, UpperCased(m_owner->CapsuleName()), running);
  m_versionPrefix = verdict.versionPrefix;
  switch (verdict.verdict) {
    case Verdict::WrongModel:
      Refuse(Text(ui::TextId::StatusWrongModel), kRefusalPauseMs);
      return;
    case Verdict::Newer:
      Refuse(Text(ui::TextId::StatusInstalledNewer), kVersionRefusalPauseMs);
      return;
    case Verdict::Same:
      Refuse(Text(ui::TextId::StatusSameVersion), kVersionRefusalPauseMs);
      return;
    case Verdict::Update:
      break;
  }

  ShowStatus(Text(ui::TextId::StatusChecking));
  Wait(kStepPauseMs);
  Wait(kStepPauseMs);
  // The supply as close to the flash as the schedule allows: an adapter pulled out during the
  // checks counts.
  if (const std::optional<ui::TextId> refusal = guards::CheckPowerSupply()) {
    Refuse(Text(*refusal), kPowerRefusalPauseMs);
    return;
  }
  ShowStatus(Text(ui::TextId::StatusUpdating));
  // The tool's paths are named before the pause, so that it starts on time. A folder that
  // cannot be named is a tool that cannot be started.
  const std::optional<std::string> folder = app::WorkingFolderPath();
  const std::optional<std::string> tool = app::FlashToolPath();
  Wait(kBeforeFlashPauseMs);
  if (!SuspendBitLocker()) return;
  // From here a crash leaves the suspension for the restart: the firmware may be changing.
  guards::KeepBitLockerSuspended();

  // From just before the tool starts until it has ended, the window refuses the end of the
  // session.
  m_owner->SetFlashToolRunning(true);
  const bool started = folder && tool && RunFlashTool(FlashCommandLine(*folder, app::kCapsuleFileName), *folder, *tool);
  m_owner->SetFlashToolRunning(false);
  if (!started) {
    guards::ResumeBitLockerIfSuspended();
    // The user is told; then the window's finish undoes the locks and ends the run without
    // restart. Nothing was flashed, so no marker is written. The input lock goes first: with
    // it no click or key could close the box, and the finish would never come.
    guards::RemoveInputLock();
    ui::AppMessageBox(Text(ui::TextId::MsgFlashToolNotStarted));
    Finish(kFinishWithoutRestart);
    return;
  }
  WriteUpdateMarker();
  Finish(kFinishWithRestart);
}

}  // namespace update
