#include "soundboard/soundboard.h"

#include <gtest/gtest.h>
