// Many apartments: 8 threads, each its own single-threaded apartment, race for
// the first class objects of a freshly loaded module, then use their own
// instances at once on their own files. All get the same class object, every
// result is right, and the lock count returns to zero.
#include "tests/robustness/case_monitor.h"
#include "tests/robustness/exercise.h"
#include "tests/robustness/figures.h"
#include "tests/robustness/server_objects.h"
#include "tests/support/property_values.h"
#include "tests/support/test_files.h"
#include "tools/safe_save/safe_save_stream.h"

#include <gtest/gtest.h>

#include <barrier>
#include <thread>

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 6;
constexpr int kUsesPerThread = 5;

struct ThreadResult {
    IUnknown* handlerClass = nullptr;
    IUnknown* thumbnailClass = nullptr;
    int operations = 0;
    std::vector<std::string> errors;
};

void Check(ThreadResult& result, bool condition, const std::string& what)
{
    if (!condition) {
        result.errors.push_back(what);
    }
}

// What one apartment does: take the class objects at the signal, then edit its
// own file and read its cover, several times.
void UseOwnFile(LoadedServer& server, std::barrier<>& start, const std::wstring& file, int thread, ThreadResult& result)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        result.errors.push_back("CoInitializeEx");
        start.arrive_and_wait();
        return;
    }
    {
        ComPtr<IClassFactory> handlerFactory;
        ComPtr<IClassFactory> thumbnailFactory;
        start.arrive_and_wait();
        Check(result, server.getClassObject(CLSID_PropertyHandler, IID_IClassFactory, &handlerFactory) == S_OK,
              "handler class object");
        Check(result, server.getClassObject(CLSID_ThumbnailProvider, IID_IClassFactory, &thumbnailFactory) == S_OK,
              "thumbnail class object");
        if (handlerFactory && thumbnailFactory) {
            result.handlerClass = As<IUnknown>(handlerFactory).Get();
            result.thumbnailClass = As<IUnknown>(thumbnailFactory).Get();
            for (int use = 0; use < kUsesPerThread; ++use) {
                const std::wstring title = L"thread " + std::to_wstring(thread) + L" use " + std::to_wstring(use) +
                                           (use % 2 == 1 ? std::wstring(9000, L'#') : L"");
                {
                    ComPtr<SafeSaveStream> stream;
                    Check(result, SafeSaveStream::Open(file, &stream) == S_OK, "open for writing");
                    ComPtr<IPropertyStore> store;
                    handlerFactory->CreateInstance(nullptr, IID_IPropertyStore, &store);
                    Check(result, store && InitializeObject(store, stream.Get()) == S_OK, "initialize for writing");
                    if (store) {
                        Check(result, SetTitle(store.Get(), title) == S_OK, "set title");
                        Check(result, store->Commit() == S_OK, "commit");
                    }
                }
                ComPtr<IStream> stream;
                Check(result,
                      SHCreateStreamOnFileEx(file.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL,
                                             FALSE, nullptr, &stream) == S_OK,
                      "open for reading");
                ComPtr<IPropertyStore> store;
                handlerFactory->CreateInstance(nullptr, IID_IPropertyStore, &store);
                Check(result, store && InitializeObject(store, stream.Get()) == S_OK, "initialize for reading");
                if (store) {
                    Check(result, ValueOf(store.Get(), PKEY_Title) == L"s:" + title, "title reads back");
                    Check(result, ValueOf(store.Get(), PKEY_Audio_SampleRate) == L"u:44100", "sample rate");
                }
                ComPtr<IThumbnailProvider> provider;
                thumbnailFactory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), &provider);
                LARGE_INTEGER zero{};
                stream->Seek(zero, STREAM_SEEK_SET, nullptr);
                Check(result, provider && InitializeObject(provider, stream.Get()) == S_OK, "thumbnail initialize");
                if (provider) {
                    HBITMAP bitmap = nullptr;
                    WTS_ALPHATYPE alpha;
                    Check(result, provider->GetThumbnail(32, &bitmap, &alpha) == S_OK && bitmap != nullptr,
                          "thumbnail");
                    if (bitmap != nullptr) {
                        DeleteObject(bitmap);
                    }
                }
                ++result.operations;
            }
        }
    }
    CoUninitialize();
}

TEST(ManyApartments, EightApartmentsShareTheClassObjectsAndReleaseEveryLock)
{
    CaseMonitor::Install("many-apartments", 120000);
    Figures figures("many-apartments");
    std::vector<std::wstring> files;
    for (int t = 0; t < kThreads; ++t) {
        files.push_back(ScratchDir() + L"\\apartment-" + std::to_wstring(t) + L".flac");
        CopyFixture(FixturePath(L"cover.flac"), files.back());
    }
    for (int round = 0; round < kRounds; ++round) {
        const std::string name = "round " + std::to_string(round);
        SCOPED_TRACE(name);
        CaseScope scope(name);
        LoadedServer server; // a fresh load: the class objects do not exist yet
        std::barrier start(kThreads);
        std::vector<ThreadResult> results(kThreads);
        {
            // (std::thread joined by hand: the toolchain's libc++ 14 has no
            // std::jthread.)
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] { UseOwnFile(server, start, files[t], t, results[t]); });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
        }
        for (int t = 0; t < kThreads; ++t) {
            for (const std::string& error : results[t].errors) {
                ADD_FAILURE() << "thread " << t << ": " << error;
            }
            EXPECT_EQ(results[t].handlerClass, results[0].handlerClass) << "thread " << t;
            EXPECT_EQ(results[t].thumbnailClass, results[0].thumbnailClass) << "thread " << t;
            EXPECT_EQ(results[t].operations, kUsesPerThread);
            figures.Add("operations", results[t].operations);
        }
        EXPECT_NE(results[0].handlerClass, nullptr);
        EXPECT_EQ(server.canUnloadNow(), S_OK) << "the lock count is back at zero";
        figures.Add("rounds", 1);
        if (HasFailure()) {
            break;
        }
    }
    figures.Set("threads", kThreads);
    figures.Set("crashes", 0);
    figures.Set("hangs", 0);
    figures.Set("data_lost", 0);
    figures.Finish();
}

} // namespace
