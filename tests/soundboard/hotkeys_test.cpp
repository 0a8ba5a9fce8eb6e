#include "soundboard/hotkeys.h"

#include <gtest/gtest.h>
