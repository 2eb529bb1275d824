// A console host of the Kesto video client: plays a stream for a few seconds and shows what a
// host sees of it (messages, azimuths, frames, the display's surface), then a small FFT.
// Usage: Kesto.SampleHost URI [SECONDS]. Exit code 0 when the stream started, frames, frame
// notices and azimuths arrived, Render answered and the FFT gave its known spectrum; 1 otherwise.
using System;
using System.Threading;
using Kesto.VideoClient;

int seconds = args.Length > 1 ? int.Parse(args[1]) : 3;
if (args.Length < 1)
{
    Console.Error.WriteLine("usage: Kesto.SampleHost URI [SECONDS]");
    return 2;
}
int azimuths = 0, frames = 0;
using var display = new VideoDisplay();
int got = display.GetBackBuffer(out IntPtr surface);
Console.WriteLine($"surface: 0x{surface.ToInt64():x} (result 0x{got:x8})");
using var client = new VideoClient(null); // a console has no synchronization context
int infos = 0;
client.MessageReceived += (s, e) =>
{
    // The Info messages (decoder start-up, one azimuth trace per frame) only counted.
    if (e.Code != (int)MessageCode.Info) Console.WriteLine($"message {(MessageCode)e.Code}: {e.Text}");
    else Interlocked.Increment(ref infos);
};
client.AzimuthReceived += (s, e) =>
{
    if (Interlocked.Increment(ref azimuths) <= 3) Console.WriteLine($"azimuth {e.Azimuth:F4} rad");
};
client.FrameReady += (s, e) => Interlocked.Increment(ref frames);
client.HandlerFailed += (s, e) => Console.WriteLine($"handler of {e.EventName} failed: {e.Exception}");
int started = client.Start("sample", args[0]);
Thread.Sleep(seconds * 1000);
int rendered = display.Render();
Console.WriteLine($"frames {client.FramesReceived}, frame notices {frames}, azimuths {azimuths}, infos {infos}, " +
                  $"size {client.GetStat("stream_width")}x{client.GetStat("stream_height")}, render 0x{rendered:x8}");
client.Stop();

using var fft = new RealFft(8);
double[] spectrum = fft.Transform(new double[] { 1, 0, -1, 0, 1, 0, -1, 0 });
Console.WriteLine($"fft bin 2: {spectrum[4]} {spectrum[5]}");
// The surface is only reported: plain Wine refuses the render-target format query (E_FAIL and
// no surface), where Windows and the Linux library give one.
bool ok = started == KestoResult.Ok && rendered == KestoResult.Ok &&
          client.FramesReceived > 0 && frames > 0 && azimuths > 0 && Math.Abs(spectrum[4] - 4) < 1e-9;
Console.WriteLine(ok ? "sample host: OK" : "sample host: FAILED");
return ok ? 0 : 1;
