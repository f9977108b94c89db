// The host's named objects, seen from outside as a capturer sees them: which exist, their kinds
// and states, refusal when another host holds a name, and the object names of the command line.
#include "RefHostTestSupport.h"
#include "ipc/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace {

using namespace refhost_test;

std::vector<THostObject> AllKinds()
{
    std::vector<THostObject> objects;
    for (const TObjectEntry& entry : AllObjects()) {
        objects.push_back(entry.object);
    }
    return objects;
}

std::string ObjectLabel(THostObject object)
{
    return Narrow(HostObjectName(object));
}

// Each object exists exactly when `expectExists` says so; a missing one answers "file not found".
void ExpectObjects(const TRefHostOptions& options, bool (*expectExists)(THostObject, const TRefHostOptions&))
{
    for (const TObjectEntry& entry : AllObjects(options)) {
        SCOPED_TRACE(ObjectLabel(entry.object));
        DWORD dwError = 0;
        const TKernelHandle handle = OpenObject(entry, &dwError);
        if (expectExists(entry.object, options)) {
            EXPECT_TRUE(handle.IsValid()) << "open failed, error " << dwError;
        } else {
            EXPECT_FALSE(handle.IsValid());
            EXPECT_EQ(dwError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
    }
}

bool ExistsUnlessOmitted(THostObject object, const TRefHostOptions& options)
{
    return !options.IsOmitted(object);
}

bool NeverExists(THostObject, const TRefHostOptions&)
{
    return false;
}

TEST(HostObjects, AllExistWhenNothingIsOmitted)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    ASSERT_NE(host.Header(), nullptr);
    ExpectObjects(TRefHostOptions{}, ExistsUnlessOmitted);
}

class OmittedObject : public ::testing::TestWithParam<THostObject> {};

TEST_P(OmittedObject, OnlyThatObjectIsMissing)
{
    TRefHostOptions options;
    options.Omit(GetParam());
    {
        TRefHost host;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
        EXPECT_EQ(host.Header() == nullptr, GetParam() == THostObject::FrameBuffer);
        ExpectObjects(options, ExistsUnlessOmitted);
    }
    ExpectObjects(options, NeverExists);  // and the host's end takes every object with it
}

std::string TestNameOf(const ::testing::TestParamInfo<THostObject>& paramInfo)
{
    std::string name;
    for (char c : ObjectLabel(paramInfo.param)) {
        name.push_back(c == '-' ? '_' : c);
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(EachObject, OmittedObject, ::testing::ValuesIn(AllKinds()), TestNameOf);

TEST(HostObjects, EverythingOmittedCreatesNothing)
{
    TRefHostOptions options;
    for (THostObject object : AllKinds()) {
        options.Omit(object);
    }
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    EXPECT_EQ(host.Header(), nullptr);
    EXPECT_FALSE(host.IsStartedCorrectlySet());
    EXPECT_FALSE(host.WaitStartedCorrectlyOrExit(0)) << "no event and no capturer";
    ExpectObjects(options, NeverExists);
}

TEST(HostObjects, SecondHostFailsWhileTheFirstLivesAndSucceedsAfter)
{
    auto first = std::make_unique<TRefHost>();
    std::wstring error;
    ASSERT_TRUE(first->CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    {
        TRefHost second;
        EXPECT_FALSE(second.CreateObjects(TRefHostOptions{}, &error));
        EXPECT_NE(error.find(L"frame-buffer"), std::wstring::npos) << Narrow(error);
        EXPECT_NE(error.find(L"another host"), std::wstring::npos) << Narrow(error);
        EXPECT_EQ(second.Header(), nullptr);
    }
    // The failed second host must not have closed or taken anything of the first.
    ExpectObjects(TRefHostOptions{}, ExistsUnlessOmitted);
    first.reset();
    TRefHost third;
    EXPECT_TRUE(third.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
}

class ExistingObject : public ::testing::TestWithParam<THostObject> {};

TEST_P(ExistingObject, RefusesNamesItAndKeepsNothing)
{
    const std::vector<TObjectEntry> entries = AllObjects();
    const TObjectEntry* pTaken = nullptr;
    for (const TObjectEntry& entry : entries) {
        pTaken = entry.object == GetParam() ? &entry : pTaken;
    }
    ASSERT_NE(pTaken, nullptr);
    const TKernelHandle taken = CreateObjectByHand(*pTaken);
    ASSERT_TRUE(taken.IsValid());

    TRefHost host;
    std::wstring error;
    EXPECT_FALSE(host.CreateObjects(TRefHostOptions{}, &error));
    EXPECT_NE(error.find(HostObjectName(GetParam())), std::wstring::npos) << Narrow(error);
    EXPECT_NE(error.find(pTaken->wsName), std::wstring::npos) << Narrow(error);
    EXPECT_EQ(host.Header(), nullptr);
    ExpectObjects(TRefHostOptions{}, [](THostObject object, const TRefHostOptions&) {
        return object == ExistingObject::GetParam();
    });
}

INSTANTIATE_TEST_SUITE_P(EachObject, ExistingObject, ::testing::ValuesIn(AllKinds()), TestNameOf);

TEST(HostObjects, CreateObjectsTwiceOnOneHostFails)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    EXPECT_FALSE(host.CreateObjects(TRefHostOptions{}, &error));
    EXPECT_FALSE(error.empty());
    ExpectObjects(TRefHostOptions{}, ExistsUnlessOmitted);
}

TEST(HostObjects, SectionSmallerThanTheHeaderIsRefused)
{
    TRefHostOptions options;
    options.ui64SectionSize = kFrameBufferHeaderSize - 1;
    TRefHost host;
    std::wstring error;
    EXPECT_FALSE(host.CreateObjects(options, &error));
    EXPECT_NE(error.find(L"section size"), std::wstring::npos) << Narrow(error);
    ExpectObjects(options, NeverExists);
}

TEST(HostObjects, EmptyInstanceMutexNameIsRefusedUnlessOmitted)
{
    TRefHostOptions options;
    options.wsInstanceMutexName.clear();
    std::wstring error;
    {
        TRefHost host;
        EXPECT_FALSE(host.CreateObjects(options, &error));
        EXPECT_NE(error.find(L"instance-mutex"), std::wstring::npos) << Narrow(error);
    }
    options.Omit(THostObject::InstanceMutex);
    TRefHost host;
    EXPECT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
}

bool IsSignalled(const wchar_t* pszEventName)
{
    DWORD dwError = 0;
    const TKernelHandle event = OpenObject({THostObject::UninstallEvent, TKind::Event, pszEventName}, &dwError);
    return event && ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

TEST(HostObjects, UninstallEventStartsAsAskedAndStaysSignalled)
{
    for (bool bPreSignalled : {false, true}) {
        SCOPED_TRACE(bPreSignalled ? "pre-signalled" : "not signalled");
        TRefHostOptions options;
        options.bUninstallPreSignalled = bPreSignalled;
        TRefHost host;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
        EXPECT_EQ(IsSignalled(kUninstallAllHooksEventName), bPreSignalled);
        host.SignalUninstall();
        EXPECT_TRUE(IsSignalled(kUninstallAllHooksEventName));
        EXPECT_TRUE(IsSignalled(kUninstallAllHooksEventName)) << "manual-reset: a wait does not consume it";
    }
}

TEST(HostObjects, StartedAndFirstFrameEventsAreManualResetAndStartClear)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    EXPECT_FALSE(host.IsStartedCorrectlySet());
    EXPECT_FALSE(IsSignalled(kFirstFrameCapturedEventName));
    for (const wchar_t* pszName : {kStartedCorrectlyEventName, kFirstFrameCapturedEventName}) {
        const TKernelHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, pszName));
        ASSERT_TRUE(event.IsValid());
        ASSERT_TRUE(::SetEvent(event.Get()));
    }
    EXPECT_TRUE(host.WaitStartedCorrectly(0));
    EXPECT_TRUE(host.IsStartedCorrectlySet()) << "still set after a wait";
    EXPECT_TRUE(host.WaitStartedCorrectlyOrExit(0));
    EXPECT_TRUE(IsSignalled(kFirstFrameCapturedEventName));
    EXPECT_TRUE(IsSignalled(kFirstFrameCapturedEventName));
}

TEST(HostObjects, CursorEventIsAutoResetAndStartsClear)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    ASSERT_NE(host.CursorEvent(), nullptr);
    EXPECT_EQ(::WaitForSingleObject(host.CursorEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    const TKernelHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, TRefHostOptions{}.wsCursorEventName.c_str()));
    ASSERT_TRUE(event.IsValid());
    for (int signal = 0; signal < 2; ++signal) {
        SCOPED_TRACE(signal);
        ASSERT_TRUE(::SetEvent(event.Get()));
        EXPECT_EQ(::WaitForSingleObject(host.CursorEvent(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(::WaitForSingleObject(host.CursorEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "one wait consumes one signal";
    }
}

// The header names the cursor objects whether or not they exist (a capturer then fails to open
// them); default names carry the process id, given names are used as they are.
TEST(HostObjects, HeaderNamesTheCursorObjects)
{
    struct Case {
        const char* name;
        std::wstring wsEvent;
        std::wstring wsMutex;
        bool bOmit;
    };
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    const Case cases[] = {
        {"default names", L"ZYRRefHostCursorEvent-" + pid, L"ZYRRefHostCursorMutex-" + pid, false},
        {"given names", L"RefHostTestCursorEvent", L"RefHostTestCursorMutex", false},
        {"left out", L"RefHostTestCursorEvent", L"RefHostTestCursorMutex", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefHostOptions options;
        if (std::string(c.name) != "default names") {
            options.wsCursorEventName = c.wsEvent;
            options.wsCursorMutexName = c.wsMutex;
        }
        if (c.bOmit) {
            options.Omit(THostObject::CursorEvent);
            options.Omit(THostObject::CursorMutex);
        }
        TRefHost host;
        std::wstring error;
        ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
        EXPECT_EQ(ToWide(ReadHeaderWideString(*host.Header(), ZYR_WIDE_FIELD(wszCursorEventName))), c.wsEvent);
        EXPECT_EQ(ToWide(ReadHeaderWideString(*host.Header(), ZYR_WIDE_FIELD(wszCursorMutexName))), c.wsMutex);
        EXPECT_EQ(host.CursorEvent() == nullptr, c.bOmit);
        EXPECT_EQ(host.CursorMutex() == nullptr, c.bOmit);
        ExpectObjects(options, ExistsUnlessOmitted);
    }
}

TEST(HostObjects, EmptyCursorObjectNamesAreRefusedUnlessOmitted)
{
    for (THostObject object : {THostObject::CursorEvent, THostObject::CursorMutex}) {
        SCOPED_TRACE(ObjectLabel(object));
        TRefHostOptions options;
        (object == THostObject::CursorEvent ? options.wsCursorEventName : options.wsCursorMutexName).clear();
        std::wstring error;
        {
            TRefHost host;
            EXPECT_FALSE(host.CreateObjects(options, &error));
            EXPECT_NE(error.find(HostObjectName(object)), std::wstring::npos) << Narrow(error);
        }
        options.Omit(object);
        TRefHost host;
        EXPECT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    }
}

TEST(HostObjects, MutexesAreNotOwnedByTheHost)
{
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(TRefHostOptions{}, &error)) << Narrow(error);
    // A thread other than the creator gets each mutex at once only if the host does not own it.
    for (const TObjectEntry& entry : AllObjects()) {
        if (entry.kind != TKind::Mutex) {
            continue;
        }
        SCOPED_TRACE(ObjectLabel(entry.object));
        DWORD dwWait = WAIT_FAILED;
        std::thread other([&entry, &dwWait] {
            DWORD dwError = 0;
            const TKernelHandle mutex = OpenObject(entry, &dwError);
            dwWait = ::WaitForSingleObject(mutex.Get(), 0);
            TMutexOwnership ownership(mutex.Get(), dwWait);
        });
        other.join();
        EXPECT_EQ(dwWait, static_cast<DWORD>(WAIT_OBJECT_0));
    }
}

TEST(HostObjects, ClosingTheInstanceMutexRemovesOnlyIt)
{
    TRefHostOptions options;
    options.wsInstanceMutexName = L"RefHostTestInstance67777777773";
    TRefHost host;
    std::wstring error;
    ASSERT_TRUE(host.CreateObjects(options, &error)) << Narrow(error);
    ExpectObjects(options, ExistsUnlessOmitted);
    host.CloseInstanceMutex();
    options.Omit(THostObject::InstanceMutex);
    ExpectObjects(options, ExistsUnlessOmitted);
    host.CloseInstanceMutex();  // a second close is harmless
}

TEST(HostObjects, NoCapturerMeansNoExitCode)
{
    TRefHost host;
    int iExitCode = 12345;
    EXPECT_FALSE(host.WaitCapturerExit(0, &iExitCode));
    EXPECT_EQ(iExitCode, 12345);
    EXPECT_EQ(host.CapturerProcess(), nullptr);
    EXPECT_EQ(host.CapturerProcessId(), 0u);
}

TEST(HostObjectNames, RoundTripAndRejectOthers)
{
    std::vector<std::wstring> seen;
    for (THostObject object : AllKinds()) {
        const std::wstring text = HostObjectName(object);
        SCOPED_TRACE(Narrow(text));
        THostObject parsed = object == THostObject::FrameBuffer ? THostObject::UninstallEvent : THostObject::FrameBuffer;
        ASSERT_TRUE(ParseHostObject(text, &parsed));
        EXPECT_EQ(parsed, object);
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end()) << "names are unique";
        seen.push_back(text);
    }
    EXPECT_EQ(seen.size(), 11u);
    for (const wchar_t* pszText : {L"", L"frame_buffer", L"Frame-Buffer", L"hud", L"frame-buffer "}) {
        THostObject parsed = THostObject::HUDMutex;
        EXPECT_FALSE(ParseHostObject(pszText, &parsed)) << Narrow(pszText);
        EXPECT_EQ(parsed, THostObject::HUDMutex);
    }
}

}  // namespace
