// Test builds only: the override of the platform probes' answers
// (base/platform_seam.h), so that they answer as another platform or user
// would. -1 leaves a probe to the real platform.
#pragma once

// ProbeKind answers GetPlatformKind, and through it IsWindowsNT.
enum ProbeId { ProbeKind, ProbeAdmin, ProbeCount };

// Sets one probe's answer; -1 restores the real one.
void SetProbeAnswer(ProbeId probe, int answer);
// Restores all real answers.
void ResetProbeAnswers();
// Overrides may also come from the environment variable RAVLOKFIX_TEST_PROBES
// ("kind=1,admin=0"), read once, so that a test build of the whole program
// can be driven from outside. RAVLOKFIX_TEST_TIME_LIMIT_MS, read once,
// shortens the run's time limits (RunTimeLimitMs) to that many milliseconds.

// Called before every probe answers, with the probe asked, when set; null for
// none. A test build of the whole program plants a fault or a stall at a
// known point of a run with it.
void SetProbeHook(void (*hook)(ProbeId probe));
