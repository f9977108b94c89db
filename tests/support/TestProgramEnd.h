// How a test program under Wine ends once its result is known.
#pragma once

// Flushes standard output and error and ends the process with `result`, without the loader's
// process teardown. Wine 8 crashed once in a CI run after every test of a Direct3D suite had
// passed: a page fault in its fiber-local-storage clean-up at exit (RtlProcessFlsData following a
// null list link), with Direct3D's command-stream threads ending on their own after their devices
// are released. The result is known here and the caller has destroyed its own objects, so nothing
// the process still has to do at exit is ours to test.
[[noreturn]] void EndTestProgram(int result);
