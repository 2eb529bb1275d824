using System;
using System.Collections.Concurrent;
using System.Diagnostics;
using System.Linq;
using System.Runtime.CompilerServices;
using System.Threading;
using Xunit;

namespace Kesto.VideoClient.Tests
{
    public sealed class ClientTests : IDisposable
    {
        private readonly Simulator simulator = new();

        public void Dispose() => simulator.Dispose();

        [Fact]
        public void Events_are_posted_to_the_creating_context_and_frame_notices_coalesced()
        {
            using var pump = new Pump();
            using var display = new VideoDisplay(); // frames are announced once the display exists
            Assert.Equal(KestoResult.Ok, display.GetBackBuffer(out _));
            var threads = new ConcurrentBag<int>();
            var texts = new ConcurrentQueue<string?>();
            var azimuths = new ConcurrentQueue<double>();
            var client = pump.Invoke(() => new VideoClient());
            client.MessageReceived += (s, e) => { threads.Add(Environment.CurrentManagedThreadId); texts.Enqueue(e.Text); };
            client.AzimuthReceived += (s, e) => { threads.Add(Environment.CurrentManagedThreadId); azimuths.Enqueue(e.Azimuth); };
            client.FrameReady += (s, e) => { threads.Add(Environment.CurrentManagedThreadId); texts.Enqueue("frame"); };
            Assert.Equal(KestoResult.Ok, pump.Invoke(() => client.Start("pumped", simulator.Uri)));
            Simulator.WaitUntil(() => azimuths.Count >= 3 && texts.Contains("frame"), "azimuths and frames arrive");
            Assert.Contains("Stream started", texts);
            Assert.All(threads, id => Assert.Equal(pump.ThreadId, id));
            Assert.True(azimuths.TryPeek(out double first) && first == 0);

            // The loop busy for 20 frame intervals: the azimuth notices queue up, the frame
            // notices wait as one.
            var waiting = pump.Invoke(() =>
            {
                double before = client.FramesReceived;
                Simulator.WaitUntil(() => client.FramesReceived >= before + 20, "frames arrive while the loop is busy");
                return (Frames: pump.Waiting(state => state == null), Azimuths: pump.Waiting(state => state is AzimuthEventArgs));
            });
            Assert.Equal(1, waiting.Frames);
            Assert.True(waiting.Azimuths >= 19, $"{waiting.Azimuths} azimuth notices queued");
            pump.Invoke(() => { client.Dispose(); return 0; });
        }

        [Fact]
        public void A_throwing_handler_is_reported_and_the_events_go_on()
        {
            using var client = new VideoClient(null);
            var failures = new ConcurrentQueue<HandlerFailedEventArgs>();
            int azimuths = 0;
            client.AzimuthReceived += (s, e) =>
            {
                if (Interlocked.Increment(ref azimuths) <= 2) throw new InvalidOperationException("not the UI thread");
            };
            EventHandler<HandlerFailedEventArgs> collect = (s, e) => failures.Enqueue(e);
            client.HandlerFailed += collect;
            Assert.Equal(KestoResult.Ok, client.Start("throwing", simulator.Uri));
            Simulator.WaitUntil(() => Volatile.Read(ref azimuths) > 3, "azimuth events go on after a handler threw");
            Assert.Equal(2, failures.Count);
            Assert.All(failures, f => Assert.Equal(("AzimuthReceived", "not the UI thread"), (f.EventName, f.Exception.Message)));

            // Nobody handles HandlerFailed (its one handler throws too): both go to the trace.
            var trace = new TraceRecord();
            Trace.Listeners.Add(trace);
            client.MessageReceived += (s, e) => throw new FormatException("handler bug");
            client.HandlerFailed -= collect;
            client.HandlerFailed += (s, e) => throw new ApplicationException("also broken");
            client.Start("throwing", simulator.Uri);
            Simulator.WaitUntil(() => trace.Text.Contains("handler bug") && trace.Text.Contains("also broken"), "the trace has both");
            Trace.Listeners.Remove(trace);
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        private static void StartAndDrop(string uri)
        {
            var client = new VideoClient(null);
            client.MessageReceived += (s, e) => { };
            Assert.Equal(KestoResult.Ok, client.Start("dropped", uri));
        }

        [Fact]
        public void A_client_dropped_while_its_stream_runs_harms_nothing()
        {
            var thread = new Thread(() => StartAndDrop(simulator.Uri));
            thread.Start();
            thread.Join();
            for (int i = 0; i < 20; i++, Thread.Sleep(50)) // the library calls back every 33 ms meanwhile
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
            }
            using var client = new VideoClient(null);
            var texts = new ConcurrentQueue<string?>();
            client.MessageReceived += (s, e) => texts.Enqueue(e.Text);
            Assert.Equal(KestoResult.Ok, client.Start("after", simulator.Uri));
            Simulator.WaitUntil(() => client.FramesReceived >= 5, "the new client's stream delivers frames");
            Assert.Contains("Stream started", texts);
        }
    }

    internal sealed class TraceRecord : TraceListener
    {
        private readonly ConcurrentQueue<string?> lines = new();

        public string Text => string.Concat(lines);

        public override void Write(string? message) => lines.Enqueue(message);

        public override void WriteLine(string? message) => lines.Enqueue(message);
    }
}
