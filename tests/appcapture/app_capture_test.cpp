#include "appcapture/app_capture.h"

#include <gtest/gtest.h>
