using System;
using System.Collections.Generic;
using System.IO;
using System.Threading;
using Xunit;

namespace Kesto.VideoClient.Tests
{
    public sealed class DisplayTests
    {
        [Fact]
        public void The_display_hands_out_a_surface_draws_and_a_snapshot_takes_a_utf8_path()
        {
            using var simulator = new Simulator();
            using var display = new VideoDisplay();
            using var client = new VideoClient(null);
            int frames = 0;
            client.FrameReady += (s, e) => Interlocked.Increment(ref frames);
            Assert.Equal(new[] { KestoResult.Ok, KestoResult.Ok, KestoResult.Ok, KestoResult.Ok, KestoResult.Ok },
                new[] { display.SetSize(256, 256), display.SetAlpha(true), display.SetNumDesiredSamples(0),
                        display.GetBackBuffer(out IntPtr surface), display.SetAdapter(10, 10) });
            Assert.NotEqual(IntPtr.Zero, surface);

            Assert.Equal(KestoResult.Ok, client.Start("display", simulator.Uri));
            Simulator.WaitUntil(() => Volatile.Read(ref frames) >= 3, "frame notices arrive");
            Assert.Equal(KestoResult.Ok, display.Render());
            string path = Path.Combine(Path.GetTempPath(), $"kesto-Снимок-{Guid.NewGuid():N}-スナップ.png");
            client.SaveSnapshot(path);
            Simulator.WaitUntil(() => File.Exists(path) && new FileInfo(path).Length > 0, "the snapshot is written");
            Assert.Equal(KestoResult.Ok, client.Stop());
            File.Delete(path);
            display.Dispose();
            Assert.Throws<ObjectDisposedException>(() => display.Render());
        }

        public static IEnumerable<object[]> Transforms() => new[]
        {
            // samples, expected (re, im) pairs for k = 0 .. N/2
            new object[] { new double[] { 1, 1, 1, 1, 1, 1, 1, 1 }, new double[] { 8, 0, 0, 0, 0, 0, 0, 0, 0, 0 } },
            new object[] { new double[] { 1, -1, 1, -1, 1, -1, 1, -1 }, new double[] { 0, 0, 0, 0, 0, 0, 0, 0, 8, 0 } },
            new object[] { new double[] { 0, 1, 0, -1 }, new double[] { 0, 0, 0, -2, 0, 0 } },
        };

        [Theory]
        [MemberData(nameof(Transforms))]
        public void The_fft_gives_exact_spectra(double[] samples, double[] expected)
        {
            using var fft = new RealFft(samples.Length);
            double[] spectrum = fft.Transform(samples);
            for (int i = 0; i < expected.Length; i++) Assert.Equal(expected[i], spectrum[i], 12);
        }

        [Fact]
        public void The_fft_refuses_bad_lengths_and_use_after_dispose()
        {
            Assert.Throws<ArgumentOutOfRangeException>(() => new RealFft(7));
            var fft = new RealFft(4);
            Assert.Throws<ArgumentException>(() => fft.Transform(new double[4], new double[5]));
            fft.Dispose();
            fft.Dispose();
            Assert.Throws<ObjectDisposedException>(() => fft.Transform(new double[4]));
        }
    }
}
