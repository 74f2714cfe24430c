// Unit KvGeneticAlgorithmXML: the GA settings document (an engine's settings with its embedded
// domain) over the XML node layer.
//
//   auto GA = kv::NewGeneticAlgorithm();                   // or LoadGeneticAlgorithm(FileName)
//   GA->SetGeneration(12);
//   GA->GetReproduction()->GetSelectionMethod()->SetTournamentField(2);
//   GA->GetDomain()->GetGenoType()->SetSize(0);
//   GA->GetOwnerDocument()->SaveToStream(Stream);
//
//   auto Doc = kv::NewXMLDocument();                       // reading from a stream
//   Doc->LoadFromStream(Stream);
//   auto Loaded = kv::GetGeneticAlgorithm(Doc);
//
// See ga_settings_nodes.h for the document's elements and ga_domain_nodes.h for the domain.
#pragma once

#include "kv/xml/KvGADomainXML.h"
#include "kv/xml/ga_settings_nodes.h"
