// The credentials of the kit's login, held where the product services can read them: the kit
// entry sets them at each login, the services below it never ask the entry.
#pragma once

#include "hcf/cloud/hcf_net_credentials.h"

HCF_NAMESPACE_BEGIN

/// The credentials of the current login (empty ones before the first).
HCFNetCredentials currentCredentials();
/// Replaces them; the kit entry calls this, and hands the package ID to the products store.
void setCurrentCredentials(const HCFNetCredentials& creds);

HCF_NAMESPACE_END
