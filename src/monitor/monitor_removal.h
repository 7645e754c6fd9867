// Removing the product's port monitor and its module, with the printers moved off its port first.
#pragma once
#include "monitor/monitor_inventory.h"

void RemoveMonitor(InstallerState* state, const MonitorInventory* inventory);
