// Functions that Windows 2000 lacks. Code that wants them binds them at run time with
// GetProcAddress; none may appear in the import table of a deliverable.
#pragma once

static const char *const kLateBoundFunctions[] = {
    "GetProductInfo", "GetNativeSystemInfo", "IsWow64Process", "GetTickCount64",
    "InitializeSRWLock", "AcquireSRWLockExclusive", "ReleaseSRWLockExclusive",
    "AcquireSRWLockShared", "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive",
    "TryAcquireSRWLockShared", "InitializeConditionVariable", "SleepConditionVariableCS",
    "SleepConditionVariableSRW", "WakeConditionVariable", "WakeAllConditionVariable",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "InitOnceComplete", "FlsAlloc",
    "FlsFree", "FlsGetValue", "FlsSetValue", "GetLogicalProcessorInformation",
    "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW", "CreateSymbolicLinkA",
    "CreateSymbolicLinkW", "QueryFullProcessImageNameA", "QueryFullProcessImageNameW",
    "GetSystemTimePreciseAsFileTime", "GetModuleHandleExA", "GetModuleHandleExW",
    "AddVectoredExceptionHandler", "RemoveVectoredExceptionHandler", "RtlCaptureStackBackTrace",
    "AttachConsole", "WTSGetActiveConsoleSessionId", "RegGetValueA", "RegGetValueW",
    "TaskDialog", "TaskDialogIndirect", "GetLocaleInfoEx", "LCIDToLocaleName",
    "CompareStringEx", "SetThreadErrorMode", "GetErrorMode", "CancelIoEx",
    "GetVolumePathNamesForVolumeNameW", "SetDllDirectoryA", "SetDllDirectoryW",
    "InterlockedCompareExchange64", "InterlockedPushListSList", "GetThreadId",
    "GetProcessId", "CreateWaitableTimerExW", "SetFileInformationByHandle",
    "GetFileInformationByHandleEx", "SHGetKnownFolderPath", "WTSQueryUserToken",
};
