#include <gtest/gtest.h>
#include "FFmpeg.h"
