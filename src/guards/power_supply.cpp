#include "guards/power_supply.h"

#include "platform/services.h"

namespace guards {
namespace {

constexpr win::BYTE kFullPercent = 100;

// 255 is "unknown", whose bits read as every flag at once, the no-battery one included: only
// a known flag can say that there is no battery.
bool HasNoBattery(win::BYTE batteryFlag) {
  return batteryFlag != win::BATTERY_FLAG_UNKNOWN && (batteryFlag & win::BATTERY_FLAG_NO_BATTERY) != 0;
}

// A level above 100 is none the system could report but "unknown" (255): neither is known.
bool BatteryKnownAndCharged(win::BYTE percent) { return percent <= kFullPercent && percent >= kMinimumBatteryPercent; }

}  // namespace

std::optional<ui::TextId> PowerSupplyRefusal(const std::optional<win::SYSTEM_POWER_STATUS>& status) {
  if (!status || status->ACLineStatus != win::AC_LINE_ONLINE) return ui::TextId::StatusNoAcPower;
  if (HasNoBattery(status->BatteryFlag) || BatteryKnownAndCharged(status->BatteryLifePercent)) return std::nullopt;
  return ui::TextId::StatusBatteryLow;
}

std::optional<ui::TextId> CheckPowerSupply() {
  win::SYSTEM_POWER_STATUS status;
  if (win::GetSystemPowerStatus(&status) == win::FALSE) return PowerSupplyRefusal(std::nullopt);
  return PowerSupplyRefusal(status);
}

}  // namespace guards
