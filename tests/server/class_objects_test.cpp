// The module's class objects and lock count, through the exports of the
// built DLL.
#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/support/loaded_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

struct ClassObjects : testing::Test {
    ComPtr<IClassFactory> Factory(REFCLSID clsid = CLSID_PropertyHandler)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(server.getClassObject(clsid, IID_IClassFactory, &factory), S_OK);
        return factory;
    }

    LoadedServer server;
};

TEST_F(ClassObjects, UnloadWaitsForInstancesHeldClassObjectsAndServerLocks)
{
    EXPECT_EQ(server.canUnloadNow(), S_OK);
    auto factory = Factory();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "a client's class object";
    ComPtr<IInitializeWithStream> instance;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, &instance), S_OK);
    factory.Reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "a live instance";
    instance.Reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK) << "only the object map's own reference is left";

    factory = Factory();
    auto second = factory; // more references of one client lock once
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    second.Reset();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE) << "one LockServer hold remains";
    Factory()->LockServer(FALSE);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ClassObjects, SameClassObjectEveryTimeAndUnknownClassesRefused)
{
    ComPtr<IUnknown> first;
    ComPtr<IUnknown> second;
    ASSERT_EQ(server.getClassObject(CLSID_PropertyHandler, IID_IUnknown, &first), S_OK);
    ASSERT_EQ(server.getClassObject(CLSID_PropertyHandler, IID_IClassFactory, &second), S_OK);
    EXPECT_EQ(first.Get(), As<IUnknown>(second).Get());

    void* unknown = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.getClassObject(IID_IPersist, IID_IClassFactory, &unknown), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(unknown, nullptr);
    EXPECT_EQ(server.getClassObject(CLSID_PropertyHandler, IID_IClassFactory, nullptr), E_POINTER);

    void* noInterface = reinterpret_cast<void*>(1);
    EXPECT_EQ(server.getClassObject(CLSID_PropertyHandler, IID_IPersist, &noInterface), E_NOINTERFACE);
    EXPECT_EQ(noInterface, nullptr);
    first.Reset();
    second.Reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ClassObjects, AggregationIsRefusedByClassObjectAndInstanceCreator)
{
    auto factory = Factory();
    auto outer = As<IUnknown>(factory); // any object stands in for an outer one
    for (const IID* iid : {&IID_IUnknown, &IID_IPropertyStore}) {
        void* result = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(outer.Get(), *iid, &result), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(result, nullptr);
    }
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, nullptr), E_POINTER);
    outer.Reset();
    factory.Reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ClassObjects, MissingInterfaceLeavesNoLock)
{
    auto factory = Factory();
    void* result = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), &result), E_NOINTERFACE);
    EXPECT_EQ(result, nullptr);
    factory.Reset();
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(ClassObjects, EveryInterfaceLeadsToOneIdentity)
{
    ComPtr<IPropertyStore> store;
    ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_IPropertyStore, &store), S_OK);
    auto init = As<IInitializeWithStream>(store);
    auto capabilities = As<IPropertyStoreCapabilities>(store);
    ASSERT_TRUE(init && capabilities);
    auto identity = As<IUnknown>(store);
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(init.Get()));
    EXPECT_EQ(As<IUnknown>(capabilities).Get(), identity.Get());
    EXPECT_EQ(As<IPropertyStore>(init).Get(), store.Get());
    EXPECT_FALSE(As<IThumbnailProvider>(store));
}

TEST(ClassObjectRace, ThreadsAskingAtOnceGetTheSameClassObject)
{
    for (int round = 0; round < 20; ++round) {
        LoadedServer server;
        std::atomic<int> ready{0};
        IUnknown* results[2] = {};
        HRESULT codes[2] = {E_FAIL, E_FAIL};
        auto ask = [&](int index) {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            codes[index] =
                server.getClassObject(CLSID_PropertyHandler, IID_IUnknown, reinterpret_cast<void**>(&results[index]));
        };
        std::thread first(ask, 0);
        std::thread second(ask, 1);
        first.join();
        second.join();
        ASSERT_EQ(codes[0], S_OK);
        ASSERT_EQ(codes[1], S_OK);
        EXPECT_EQ(results[0], results[1]) << "round " << round;
        results[0]->Release();
        results[1]->Release();
        EXPECT_EQ(server.canUnloadNow(), S_OK);
    }
}

} // namespace
