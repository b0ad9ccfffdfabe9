// The whole public interface of the kit.
#pragma once

#include "hcf/color/cie_std_math.h"
#include "hcf/color/color_enums.h"
#include "hcf/color/hsb_color.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/color/lab_color.h"
#include "hcf/color/lch_color.h"
#include "hcf/color/luv_color.h"
#include "hcf/color/matrix_math.h"
#include "hcf/color/platform_color.h"
#include "hcf/color/rgb_color.h"
#include "hcf/color/xyz_color.h"
#include "hcf/exception.h"
#include "hcf/export.h"
#include "hcf/json.h"
#include "hcf/number_format.h"
#include "hcf/version.h"
