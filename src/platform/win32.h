// The product's only door to Windows: the SDK headers on Windows, the simulated Windows elsewhere.
#pragma once

#ifdef _WIN32
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>
#include <winver.h>
#include <wtsapi32.h>
#include <restartmanager.h>
#include <sddl.h>
#else
#include "winsim/winsim.h"
#endif
