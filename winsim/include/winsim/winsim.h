// What the product sees of winsim: the Windows types and functions.
#pragma once
#include "winsim/api.h"
