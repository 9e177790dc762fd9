// Test seams: a pointer through which a test stands in for one Windows function, to see what
// a call hands over or to stage a failure that cannot be made for real. Only the test build of
// the platform library (LAUNCHER_TEST_SEAMS) has them; the launcher image calls Windows directly.
#ifndef PLATFORM_TEST_SEAMS_H_
#define PLATFORM_TEST_SEAMS_H_

#ifdef LAUNCHER_TEST_SEAMS
#define LAUNCHER_SEAM(seam, real) ((seam) != nullptr ? (seam) : (real))
#else
#define LAUNCHER_SEAM(seam, real) (real)
#endif

#endif  // PLATFORM_TEST_SEAMS_H_
