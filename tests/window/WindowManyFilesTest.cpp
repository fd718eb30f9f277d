// Many files added at once: the window stays responsive while they are checked. A
// timing test: it runs alone (see CMakeLists.txt), since other suites on the same
// processors would delay the window's loop on their own account.
#include <QTimer>
#include <QElapsedTimer>

#include <cstdio>
#include <filesystem>

#include "WindowFixture.h"

namespace fs = std::filesystem;

namespace {

// A sanitizer build runs every instruction several times slower; the window's share of
// the work grows with it, so its bound does too.
#ifdef PEMMET_SANITIZED
constexpr qint64 MaxGapMs = 400;
#else
constexpr qint64 MaxGapMs = 100;
#endif

// Ten thousand files: the window's own loop keeps answering while they are checked,
// and every one of them is listed.
TEST_F(WindowTest, TenThousandFilesKeepTheWindowAnswering) {
  const QString First = Tone("many/first.wav", 0.02, 8000, 1);
  constexpr int Count = 10000;
  for (int I = 1; I < Count; ++I) fs::copy_file(First.toStdString(), Dir.File("many/f" + std::to_string(I) + ".wav"));
  Open();
  QElapsedTimer Clock;
  qint64 Last = 0, LongestGap = 0;
  QTimer Tick;
  Tick.setInterval(10);
  QObject::connect(&Tick, &QTimer::timeout, [&] {
    const qint64 Now = Clock.elapsed();
    LongestGap = std::max(LongestGap, Now - Last);
    Last = Now;
  });
  Services.FolderAnswers.push_back(QString::fromStdString(Dir.File("many")));
  Clock.start();
  Tick.start();
  Button("btnAddFolder")->click();
  EXPECT_TRUE(Window->Loading());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Loading(); }, 240000));
  Tick.stop();
  EXPECT_EQ(Model().Count(), Count);
  EXPECT_EQ(Caption(), "Pemmet [Ready]");
  std::printf("longest gap between ticks: %lld ms over %lld ms\n", static_cast<long long>(LongestGap),
              static_cast<long long>(Clock.elapsed()));
  EXPECT_LT(LongestGap, MaxGapMs) << "ms between two ticks of the window's loop, over " << Clock.elapsed() << " ms";
}

}  // namespace
