// A save that is interrupted part-way, the way a crash, a kill or a power cut interrupts it: the
// process dies in the middle of writing the file and no cleanup of the library runs. The old
// file must still be there, whole; a new target must not appear half-written; and the next save
// must succeed. (How saving fails cleanly, with an error, is tested with the persistence tests.)
//
// The interruption is made reliable with the file size limit: a child process lowers
// RLIMIT_FSIZE below the size of the document and keeps SIGXFSZ at its default action, so the
// kernel kills the child at the write that crosses the limit, after a part of the document has
// reached the disk. (Permissions would not do: the tests run as root.) Both ways to save a file
// are covered: an engine's SaveToFile and a document's SaveToFile (a domain document).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "kv/ga/KvGeneticAlgorithm.h"
#include "kv/xml/KvGADomainXML.h"
#include "tests/fuzz/fuzz_engines.h"

using namespace kv;
namespace fs = std::filesystem;

namespace {

fs::path TestDir(const char* Name) {
    const char* Base = std::getenv("KVGA_TEST_TMP");
    fs::path Dir = fs::path(Base != nullptr ? Base : fs::temp_directory_path().string()) / Name;
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    return Dir;
}

std::string Content(const fs::path& File) {
    std::ifstream In(File, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

// Runs Save in a child process whose file size limit is Limit bytes. Returns the signal that
// ended the child, or 0 when it exited.
int SaveInterrupted(const std::function<void()>& Save, rlim_t Limit) {
    const pid_t Child = ::fork();
    if (Child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        struct rlimit Low {};
        ::getrlimit(RLIMIT_FSIZE, &Low);
        Low.rlim_cur = Limit;
        ::setrlimit(RLIMIT_FSIZE, &Low);
        try {
            Save();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    int Status = 0;
    ::waitpid(Child, &Status, 0);
    return WIFSIGNALED(Status) ? WTERMSIG(Status) : 0;
}

// An engine whose document is some 200 KB, written in several pieces.
void MakeLargeEngine(TKvGeneticAlgorithm& GA) {
    fuzz::MakeSampleEngine(GA);
    for (int I = 0; I < 400; ++I)
        GA.GetPopulation()->Add()->SetName("Individual " + std::to_string(I));
}

// The files in Dir, other than the temporary files a killed save leaves behind.
std::vector<std::string> Names(const fs::path& Dir) {
    std::vector<std::string> Out;
    for (const fs::directory_entry& Entry : fs::directory_iterator(Dir))
        if (Entry.path().extension() != ".tmp")
            Out.push_back(Entry.path().filename().string());
    std::sort(Out.begin(), Out.end());
    return Out;
}

} // namespace

TEST(InterruptedSave, AnEngineFileKeepsItsOldContent) {
    const fs::path Dir = TestDir("interrupted_engine");
    const fs::path File = Dir / "engine.xml";
    TKvGeneticAlgorithm Old;
    fuzz::MakeSampleEngine(Old);
    Old.SaveToFile(File.string());
    const std::string OldContent = Content(File);

    TKvGeneticAlgorithm New;
    MakeLargeEngine(New);
    const std::string NewContent = fuzz::SaveEngine(New);
    ASSERT_GT(NewContent.size(), 100000u);
    EXPECT_EQ(SaveInterrupted([&] { New.SaveToFile(File.string()); }, 65536), SIGXFSZ);
    EXPECT_TRUE(Content(File) == OldContent) << "the old file changed";
    TKvGeneticAlgorithm Loaded;
    Loaded.LoadFromFile(File.string());
    EXPECT_EQ(fuzz::SaveEngine(Loaded), fuzz::SaveEngine(Old));

    // A save to a new file that is interrupted leaves no file of that name at all.
    const fs::path Fresh = Dir / "fresh.xml";
    EXPECT_EQ(SaveInterrupted([&] { New.SaveToFile(Fresh.string()); }, 65536), SIGXFSZ);
    EXPECT_FALSE(fs::exists(Fresh));
    EXPECT_EQ(Names(Dir), (std::vector<std::string>{"engine.xml"}));

    // What the killed saves left behind does not stand in the way of the next save.
    New.SaveToFile(File.string());
    EXPECT_TRUE(Content(File) == NewContent);
    fs::remove_all(Dir);
}

TEST(InterruptedSave, ADocumentFileKeepsItsOldContent) {
    const fs::path Dir = TestDir("interrupted_document");
    const fs::path File = Dir / "domain.xml";
    TKvGeneticAlgorithm Old;
    fuzz::MakeSampleEngine(Old);
    auto OldDomain = NewGADomain();
    Old.SaveToXML(*OldDomain);
    OldDomain->GetOwnerDocument()->SaveToFile(File.string());
    const std::string OldContent = Content(File);
    ASSERT_EQ(OldContent, fuzz::SaveDomain(Old));

    TKvGeneticAlgorithm New;
    MakeLargeEngine(New);
    auto NewDomain = NewGADomain();
    New.SaveToXML(*NewDomain);
    const std::shared_ptr<IXMLDocument> Doc = NewDomain->GetOwnerDocument();
    ASSERT_GT(Doc->SaveToString().size(), 100000u);
    EXPECT_EQ(SaveInterrupted([&] { Doc->SaveToFile(File.string()); }, 65536), SIGXFSZ);
    EXPECT_TRUE(Content(File) == OldContent) << "the old file changed";
    TKvGeneticAlgorithm Loaded;
    Loaded.LoadFromXML(*LoadGADomain(File.string()));
    EXPECT_EQ(fuzz::SaveDomain(Loaded), OldContent);

    const fs::path Fresh = Dir / "fresh.xml";
    EXPECT_EQ(SaveInterrupted([&] { Doc->SaveToFile(Fresh.string()); }, 65536), SIGXFSZ);
    EXPECT_FALSE(fs::exists(Fresh));
    EXPECT_EQ(Names(Dir), (std::vector<std::string>{"domain.xml"}));

    Doc->SaveToFile(File.string());
    EXPECT_TRUE(Content(File) == Doc->SaveToString());
    fs::remove_all(Dir);
}
