// Internal: the node class of the domain element, for documents that embed a domain.
#pragma once

#include "kv/xml/detail/xml_impl.h"

namespace kv::detail {

// TXMLGADomainType: registers GenoType and Chromosomes.
extern const TXMLNodeClass XMLGADomainTypeClass;

} // namespace kv::detail
