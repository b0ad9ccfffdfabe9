#include "hcf/core/exception.h"

#include <utility>

HCF_NAMESPACE_BEGIN

HCFException::HCFException(std::string name, const std::string& reason)
    : std::logic_error(reason), name_(std::move(name)) {}

HCFException::~HCFException() = default;

HCF_NAMESPACE_END
