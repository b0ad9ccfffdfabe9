#include "hcf/products/hcf_product_manager.h"

HCF_NAMESPACE_BEGIN

HCFProductManager::HCFProductManager() = default;
HCFProductManager::~HCFProductManager() = default;

HCF_NAMESPACE_END
