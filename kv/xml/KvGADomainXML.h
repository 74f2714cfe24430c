// Unit KvGADomainXML: the GA domain document (genotype and chromosomes) over the XML node layer.
//
//   auto Domain = kv::NewGADomain();                       // or LoadGADomain(FileName)
//   auto Gene = Domain->GetGenoType()->GetBooleanGene()->Add();
//   Gene->SetName("Flag");
//   Gene->SetSize(1);
//   Domain->GetOwnerDocument()->SaveToFile("domain.xml");
//
// See ga_domain_nodes.h for the document's elements and the node interfaces, and xml_node.h for
// documents, nodes, lists, value forms and errors.
#pragma once

#include "kv/xml/ga_domain_nodes.h"
#include "kv/xml/xml_node.h"
#include "kv/xml/xml_text.h"
