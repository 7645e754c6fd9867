#pragma once
#include "monitor/monitor_inventory.h"

void RemoveMonitor(InstallerState* state, const MonitorInventory* inventory);
bool DeleteProductMonitor(LPCWSTR environment);
