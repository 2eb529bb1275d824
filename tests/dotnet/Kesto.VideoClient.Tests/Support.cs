using System;
using System.Collections.Concurrent;
using System.Diagnostics;
using System.Linq;
using System.Text.RegularExpressions;
using System.Threading;
using System.Threading.Tasks;
using Xunit;

// One stream per process: the tests that start one must not run at once.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Kesto.VideoClient.Tests
{
    // The simulator on an ephemeral port, 128-pixel pictures at 30 fps, azimuth 1 rad/s.
    public sealed class Simulator : IDisposable
    {
        private readonly Process process = Process.Start(new ProcessStartInfo(
            Environment.GetEnvironmentVariable("KESTO_CAMSIM") ?? "kesto-camsim",
            "--port 0 --side 128 --fps 30 --azimuth-rate 1 --quiet") { RedirectStandardOutput = true })!;

        public Simulator()
        {
            string line = process.StandardOutput.ReadLine() ?? "";
            Match port = Regex.Match(line, @"^listening on 127\.0\.0\.1:(\d+)$");
            Assert.True(port.Success, "the simulator announced '" + line + "'");
            Uri = "tcp://127.0.0.1:" + port.Groups[1].Value;
        }

        public string Uri { get; }

        public void Dispose() { process.Kill(); process.WaitForExit(5000); process.Dispose(); }

        public static void WaitUntil(Func<bool> done, string what, int timeoutMs = 10000)
        {
            var clock = Stopwatch.StartNew();
            while (!done() && clock.ElapsedMilliseconds < timeoutMs) Thread.Sleep(10);
            Assert.True(done(), what);
        }
    }

    // A single-threaded message loop, as a UI thread has: Post queues, Send is refused (the
    // binding must never block the library's thread on the host's).
    public sealed class Pump : SynchronizationContext, IDisposable
    {
        private readonly BlockingCollection<(SendOrPostCallback Callback, object? State)> queue = new();
        private readonly Thread thread;

        public Pump()
        {
            thread = new Thread(() =>
            {
                SetSynchronizationContext(this);
                foreach (var (callback, state) in queue.GetConsumingEnumerable()) callback(state);
            }) { IsBackground = true };
            thread.Start();
        }

        public int ThreadId => thread.ManagedThreadId;

        // What waits in the queue, by the kind of its event data (null: a frame notice).
        public int Waiting(Func<object?, bool> kind) => queue.ToArray().Count(item => kind(item.State));

        public override void Post(SendOrPostCallback d, object? state) => queue.Add((d, state));

        public override void Send(SendOrPostCallback d, object? state) => throw new InvalidOperationException("sent, not posted");

        public T Invoke<T>(Func<T> work)
        {
            var done = new TaskCompletionSource<T>();
            Post(_ => done.SetResult(work()), null);
            return done.Task.Result;
        }

        public void Dispose() { queue.CompleteAdding(); thread.Join(5000); }
    }
}
