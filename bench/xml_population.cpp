// Saving and loading a population through the domain document, against pugixml alone doing the
// same work on the same document: build the tree and write it; parse it and read every
// individual's name and bit string. Arguments: individuals, bits (one boolean gene per bit).
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <string>

#include "bench_xml_support.h"
#include "kv/xml/KvGADomainXML.h"

namespace {

using kvbench::TStringWriter;

std::string Bits(int Individual, int Size) {
    return kvbench::BitPattern(Individual, Size);
}

std::string SavePugi(int Count, int Size) {
    pugi::xml_document Doc;
    auto Decl = Doc.append_child(pugi::node_declaration);
    Decl.append_attribute("version") = "1.0";
    Decl.append_attribute("encoding") = "UTF-8";
    auto Chromosomes = Doc.append_child("GADomain").append_child("Chromosomes");
    for (int I = 0; I < Count; ++I) {
        auto C = Chromosomes.append_child("Chromosome");
        C.append_child("Name").text().set(("Individual" + std::to_string(I)).c_str());
        auto Genes = C.append_child("Genes");
        std::string B = Bits(I, Size);
        Genes.append_child("Bits").text().set(B.c_str());
        for (int K = 0; K < Size; ++K)
            Genes.append_child("BooleanGeneValue").text().set(B[static_cast<size_t>(K)] == '1');
    }
    TStringWriter W;
    Doc.save(W, "  ", pugi::format_indent, pugi::encoding_utf8);
    return std::move(W.Out);
}

std::string SaveKv(int Count, int Size) {
    auto Domain = kv::NewGADomain();
    auto Chromosomes = Domain->GetChromosomes();
    for (int I = 0; I < Count; ++I) {
        auto C = Chromosomes->Add();
        C->SetName("Individual" + std::to_string(I));
        auto Genes = C->GetGenes();
        std::string B = Bits(I, Size);
        Genes->SetBits(B);
        auto Values = Genes->GetBooleanGeneValue();
        for (int K = 0; K < Size; ++K)
            Values->Add(B[static_cast<size_t>(K)] == '1');
    }
    return Domain->GetOwnerDocument()->SaveToString();
}

size_t LoadPugi(const std::string& Text) {
    pugi::xml_document Doc;
    Doc.load_buffer(Text.data(), Text.size());
    size_t Total = 0;
    auto Chromosomes = Doc.child("GADomain").child("Chromosomes");
    for (auto C = Chromosomes.child("Chromosome"); C; C = C.next_sibling("Chromosome")) {
        std::string Name = C.child("Name").text().get();
        std::string B = C.child("Genes").child("Bits").text().get();
        Total += Name.size() + B.size();
    }
    return Total;
}

size_t LoadKv(const std::string& Text) {
    auto Doc = kv::NewXMLDocument();
    Doc->LoadFromString(Text);
    auto Chromosomes = kv::GetGADomain(Doc)->GetChromosomes();
    size_t Total = 0;
    for (int I = 0, N = Chromosomes->GetCount(); I < N; ++I) {
        auto C = Chromosomes->GetChromosome(I);
        Total += C->GetName().size() + C->GetGenes()->GetBits().size();
    }
    return Total;
}

void BM_SavePugi(benchmark::State& State) {
    for (auto _ : State)
        benchmark::DoNotOptimize(SavePugi(int(State.range(0)), int(State.range(1))));
}
void BM_SaveKv(benchmark::State& State) {
    for (auto _ : State)
        benchmark::DoNotOptimize(SaveKv(int(State.range(0)), int(State.range(1))));
}
void BM_LoadPugi(benchmark::State& State) {
    std::string Text = SaveKv(int(State.range(0)), int(State.range(1)));
    for (auto _ : State)
        benchmark::DoNotOptimize(LoadPugi(Text));
}
void BM_LoadKv(benchmark::State& State) {
    std::string Text = SaveKv(int(State.range(0)), int(State.range(1)));
    for (auto _ : State)
        benchmark::DoNotOptimize(LoadKv(Text));
}

} // namespace

BENCHMARK(BM_SavePugi)->Args({100, 1024})->Args({10000, 100})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveKv)->Args({100, 1024})->Args({10000, 100})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPugi)->Args({100, 1024})->Args({10000, 100})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadKv)->Args({100, 1024})->Args({10000, 100})->Unit(benchmark::kMillisecond);
