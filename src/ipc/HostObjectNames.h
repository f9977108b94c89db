// Names of the kernel objects that the host creates for the capturer. Most carry the fixed suffix
// "67777777773"; the started-correctly event carries it followed by "40000000000".
#pragma once

#define ZYR_HOST_SUFFIX L"67777777773"

inline constexpr wchar_t kFrameBufferMappingName[] = L"VQHooksFrameBuffer" ZYR_HOST_SUFFIX;
inline constexpr wchar_t kUninstallAllHooksEventName[] = L"VQUninstallAllHooksEvent" ZYR_HOST_SUFFIX;
inline constexpr wchar_t kStartedCorrectlyEventName[] =
    L"VQZYRDllExistsInProcessEvent" ZYR_HOST_SUFFIX L"40000000000";
inline constexpr wchar_t kFirstFrameCapturedEventName[] = L"VQHooksTheFirstFrameCapturedEvent" ZYR_HOST_SUFFIX;
inline constexpr wchar_t kHUDAccessMutexName[] = L"VQHooksHUDAccessMutex" ZYR_HOST_SUFFIX;
inline constexpr wchar_t kWebCamBackgroundAccessMutexName[] = L"VQHooksWebCamBackgroundAccessMutex" ZYR_HOST_SUFFIX;
inline constexpr wchar_t kWebCamAccessMutexName[] = L"VQHooksWebCamAccessMutex" ZYR_HOST_SUFFIX;
inline constexpr wchar_t kRadialMenuAccessMutexName[] = L"VQHooksRadialMenuAccessMutex" ZYR_HOST_SUFFIX;

// Keys of the overlay access mutexes in the application object's map.
enum TAccessMutexKey : int {
    kAccessMutexHUD = 0,
    kAccessMutexWebCamBackground = 1,
    kAccessMutexWebCam = 2,
    kAccessMutexRadialMenu = 3,
};

#undef ZYR_HOST_SUFFIX
