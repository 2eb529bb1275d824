// The C# binding against the built library and the simulator, under Mono: a stream starts,
// "Stream started", frames and azimuth events arrive through the wrapper's events, the stream
// stops, and the declarations of the other exports match the library's.
// Usage: mono BindingTest.exe PATH_TO_KESTO_CAMSIM
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Text.RegularExpressions;
using System.Threading;
using Kesto.VideoClient;

static class BindingTest
{
    static int passed, failed;

    static void Check(bool condition, string what)
    {
        if (condition) passed++;
        else { failed++; Console.WriteLine("FAILED: " + what); }
    }

    static bool WaitUntil(Func<bool> done, int timeoutMs)
    {
        var clock = Stopwatch.StartNew();
        while (!done() && clock.ElapsedMilliseconds <= timeoutMs) Thread.Sleep(20);
        return done();
    }

    static int Main(string[] args)
    {
        var simulator = Process.Start(new ProcessStartInfo(args[0], "--port 0 --side 128 --fps 30 --azimuth-rate 1 --quiet")
            { UseShellExecute = false, RedirectStandardOutput = true });
        try
        {
            string line = simulator.StandardOutput.ReadLine() ?? "";
            Match port = Regex.Match(line, @"^listening on 127\.0\.0\.1:(\d+)$");
            Check(port.Success, "the simulator announces its port: '" + line + "'");
            if (port.Success) Run("tcp://127.0.0.1:" + port.Groups[1].Value);
        }
        finally
        {
            if (!simulator.HasExited) simulator.Kill();
            simulator.WaitForExit(5000);
        }
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    static void Run(string uri)
    {
        var messages = new List<MessageEventArgs>();
        var azimuths = new List<double>();
        int frameNotices = 0;
        using (var client = new VideoClient())
        {
            client.MessageReceived += (sender, e) =>
            {
                if (e.Code == (int)MessageCode.FrameReady) Interlocked.Increment(ref frameNotices);
                else lock (messages) messages.Add(e);
            };
            client.AzimuthReceived += (sender, e) => { lock (azimuths) azimuths.Add(e.Azimuth); };

            // Refused without a message: too short to be a URI.
            Check(NativeMethods.StartServerStream("cs", "x") == NativeMethods.E_INVALIDARG &&
                  messages.Count == 0, "StartServerStream(\"x\") gives E_INVALIDARG, silently");
            Check(NativeMethods.StopServerStream(null) == NativeMethods.E_INVALIDARG,
                  "StopServerStream(null) gives E_INVALIDARG");
            // The display exists before the first frame, so frames are drawn into it.
            IntPtr surface;
            Check(NativeMethods.GetBackBufferNoRef(out surface) == NativeMethods.S_OK &&
                  surface != IntPtr.Zero, "GetBackBufferNoRef hands out a surface");

            Check(client.Start("cs", uri) == NativeMethods.S_OK, "Start gives S_OK");
            Check(WaitUntil(() => client.FramesReceived >= 10, 15000),
                  "frames_received reaches 10 (it is " + client.FramesReceived + ")");
            Check(WaitUntil(() => { lock (azimuths) return azimuths.Count >= 2; }, 5000),
                  "azimuth events arrive");
            // From 0 at the first picture on, 1 rad/s at 30 fps, as float in the stream.
            lock (azimuths) Check(Math.Abs(azimuths[0]) < 1e-6 && Math.Abs(azimuths[1] - azimuths[0] - 1.0 / 30) < 1e-4, "azimuths follow the sweep");
            Check(Volatile.Read(ref frameNotices) > 0, "frame-ready events arrive");
            Check(client.GetStat("stream_width") == 128, "stream_width is the simulator's side");
            NativeMethods.SetRotationOffset(0.25);
            NativeMethods.SetCurrentZoomFactor(2.0);
            NativeMethods.SetCurrentAzimuth(1.0);
            Check(NativeMethods.Render() == NativeMethods.S_OK, "Render gives S_OK");
            Check(client.Stop() == NativeMethods.S_OK, "Stop gives S_OK");
            lock (messages)
                Check(messages.Exists(m => m.Code == (int)MessageCode.Status && m.Text == "Stream started") &&
                      !messages.Exists(m => m.Code == (int)MessageCode.Error ||
                                            m.Code == (int)MessageCode.Exception),
                      "\"Stream started\" as an event, and no Error or Exception");

            // The FFT exports: a constant signal has all its energy in bin 0.
            IntPtr fft = NativeMethods.AllocFFTR(8);
            var freq = new double[10];
            NativeMethods.FFTR(fft, new double[] { 1, 1, 1, 1, 1, 1, 1, 1 }, freq);
            Check(freq[0] == 8 && freq[1] == 0 && Math.Abs(freq[2]) < 1e-12, "FFTR of a constant");
            NativeMethods.FreeFFTR(fft);
            Check(NativeMethods.AllocFFTR(7) == IntPtr.Zero, "AllocFFTR refuses odd lengths");

            Check(NativeMethods.SetSize(256, 256) == NativeMethods.S_OK &&
                  NativeMethods.SetAlpha(1) == NativeMethods.S_OK &&
                  NativeMethods.SetNumDesiredSamples(0) == NativeMethods.S_OK &&
                  NativeMethods.SetAdapter(new KestoPoint(10, 10)) == NativeMethods.S_OK,
                  "the display setters give S_OK");
            NativeMethods.DestroyD3D();
        }
    }
}
