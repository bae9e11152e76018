// The few window-manager names the component touches.
#pragma once

#include "windef.h"
