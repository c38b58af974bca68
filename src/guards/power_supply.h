// No flash without mains power: a battery that runs out half-way through the firmware leaves a
// machine that no longer starts.
#pragma once

#include <optional>

#include "platform/win_types.h"
#include "ui/texts.h"

namespace guards {

// The battery level below which the flash is refused even on mains: the adapter may be pulled
// out, and the flash must still end on the battery alone.
inline constexpr win::BYTE kMinimumBatteryPercent = 25;

// Why the flash may not start with the power supply as reported (nothing when the report could
// not be had), or nothing when it may.
std::optional<ui::TextId> PowerSupplyRefusal(const std::optional<win::SYSTEM_POWER_STATUS>& status);
// Asks the system now.
std::optional<ui::TextId> CheckPowerSupply();

}  // namespace guards
