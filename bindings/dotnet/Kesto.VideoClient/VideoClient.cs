using System;
using System.Diagnostics;
using System.Threading;

namespace Kesto.VideoClient
{
    /// <summary>
    /// The library's one stream, its messages and azimuth notices as events, snapshots and
    /// segment recordings. The library has one stream per process: every client controls that
    /// stream, and every live client receives its events.
    /// </summary>
    /// <remarks>
    /// <para>Events are posted (never sent) to the <see cref="SynchronizationContext"/> that was
    /// current when the client was made, such as a WPF window's Dispatcher, so handlers run on
    /// that thread and may call any method of this library. A client made without a context,
    /// or with <c>new VideoClient(null)</c>, raises its events on the library's threads: such
    /// handlers must return quickly and must not call the display, stream or zoom methods.</para>
    /// <para>Frame notices are coalesced: while one <see cref="FrameReady"/> waits to be
    /// raised, further frames add none.</para>
    /// <para>An exception thrown by a handler never reaches the library: it is raised as
    /// <see cref="HandlerFailed"/>, and written to <see cref="Trace"/> when nobody handles that
    /// event or its own handler throws.</para>
    /// <para>Dispose the client (or call <see cref="Dispose"/> when the window closes) to stop the
    /// stream and free it. A client that is never disposed does no harm to the process: it is
    /// collected and receives nothing more, while the stream it started keeps running.</para>
    /// </remarks>
    public sealed class VideoClient : IDisposable
    {
        private static readonly byte[] AnyStreamName = NativeMethods.Utf8z("stream")!;
        private readonly SynchronizationContext? context;
        private readonly SendOrPostCallback raiseFrame;
        private int framePending;
        private bool disposed;

        /// <summary>A client whose events are posted to the current <see cref="SynchronizationContext"/>.</summary>
        /// <exception cref="PlatformNotSupportedException">The process is not 64-bit.</exception>
        public VideoClient()
            : this(SynchronizationContext.Current)
        {
        }

        /// <summary>A client whose events are posted to <paramref name="context"/>; null raises them on the library's threads.</summary>
        /// <exception cref="PlatformNotSupportedException">The process is not 64-bit.</exception>
        public VideoClient(SynchronizationContext? context)
        {
            NativeMethods.RequireSupportedProcess();
            this.context = context;
            raiseFrame = RaiseFrame;
            CallbackHub.Subscribe(this);
        }

        /// <summary>A message of the library, other than a frame notice.</summary>
        public event EventHandler<MessageEventArgs>? MessageReceived;

        /// <summary>An azimuth read from the stream, once per azimuth record.</summary>
        public event EventHandler<AzimuthEventArgs>? AzimuthReceived;

        /// <summary>A new frame is in the display: render it (see <see cref="VideoDisplay.Render"/>).</summary>
        public event EventHandler? FrameReady;

        /// <summary>One of this client's event handlers threw. Raised on the thread that ran it.</summary>
        public event EventHandler<HandlerFailedEventArgs>? HandlerFailed;

        /// <summary>The name given to the last <see cref="Start"/>, the key of its statistics.</summary>
        public string StreamName { get; private set; } = "";

        /// <summary>Frames delivered under <see cref="StreamName"/> since the statistics were made.</summary>
        public double FramesReceived => GetStat("frames_received");

        /// <summary>
        /// Starts the stream (<c>tcp://host[:port]</c> or <c>file://path</c>), stopping the running one.
        /// </summary>
        /// <returns><see cref="KestoResult.Ok"/> once the worker runs; <see cref="KestoResult.InvalidArgument"/>
        /// for a URI without "://" (silently); <see cref="KestoResult.Fail"/> with an Exception message.</returns>
        public int Start(string streamName, string uri)
        {
            ThrowIfDisposed();
            StreamName = streamName ?? throw new ArgumentNullException(nameof(streamName));
            return NativeMethods.StartServerStreamUtf8(NativeMethods.Utf8z(streamName),
                NativeMethods.Utf8z(uri ?? throw new ArgumentNullException(nameof(uri))));
        }

        /// <summary>Stops the stream and waits for its worker. Never from the library's threads.</summary>
        /// <returns><see cref="KestoResult.Ok"/>, also when no stream runs.</returns>
        public int Stop() => NativeMethods.StopServerStream(AnyStreamName);

        /// <summary>Passes an azimuth to the stream (the sources accept and ignore it).</summary>
        public void SetCurrentAzimuth(double azimuth) => NativeMethods.SetCurrentAzimuth(azimuth);

        /// <summary>The rotation offset in radians, added to the stream's azimuth when drawing.</summary>
        public void SetRotationOffset(double offset) => NativeMethods.SetRotationOffset(offset);

        /// <summary>The zoom factor, clamped by the library to 1 … 10.</summary>
        public void SetZoomFactor(double zoomFactor) => NativeMethods.SetCurrentZoomFactor(zoomFactor);

        /// <summary>
        /// Asks for a snapshot of the picture on display, written when the next frame arrives:
        /// PNG for a path ending in ".png", BMP for ".bmp". A failure arrives as an Error message.
        /// </summary>
        public void SaveSnapshot(string path) =>
            NativeMethods.SaveVideoFrameRawToDiskUtf8(NativeMethods.Utf8z(path ?? throw new ArgumentNullException(nameof(path))));

        /// <summary>
        /// Records a raw segment of the running stream into <paramref name="fileName"/> (and its
        /// "_pkt_sizes.bin" sidecar) from the next key frame for <paramref name="durationMs"/>
        /// milliseconds; the pair plays back with <c>Start(name, "file://" + fileName)</c>.
        /// </summary>
        public void RecordSegment(string fileName, int durationMs) =>
            NativeMethods.SaveVideoSegmentRawToDiskUtf8(
                NativeMethods.Utf8z(fileName ?? throw new ArgumentNullException(nameof(fileName))), durationMs);

        /// <summary>
        /// One statistic of the stream named at <see cref="Start"/>: "frames_received",
        /// "stream_width", "stream_height", "fps" or "bps"; 0 for an unknown one.
        /// </summary>
        public double GetStat(string statName) =>
            NativeMethods.GetStreamStat(NativeMethods.Utf8z(StreamName), NativeMethods.Utf8z(statName ?? ""));

        /// <summary>Stops the events, stops and destroys the stream and discards its statistics.</summary>
        public void Dispose()
        {
            if (disposed) return;
            disposed = true;
            CallbackHub.Unsubscribe(this);
            NativeMethods.DestroyClient();
        }

        internal void OnNativeMessage(int code, string? text, DateTimeOffset time)
        {
            if (code == (int)MessageCode.FrameReady)
            {
                if (context == null) RaiseFrame(null);
                else if (Interlocked.Exchange(ref framePending, 1) == 0) context.Post(raiseFrame, null);
                return;
            }
            Raise(new MessageEventArgs(code, text, time), state =>
                Guard(nameof(MessageReceived), () => MessageReceived?.Invoke(this, (MessageEventArgs)state!)));
        }

        internal void OnNativeAzimuth(double azimuth) =>
            Raise(new AzimuthEventArgs(azimuth), state =>
                Guard(nameof(AzimuthReceived), () => AzimuthReceived?.Invoke(this, (AzimuthEventArgs)state!)));

        private void Raise(EventArgs args, SendOrPostCallback raise)
        {
            if (context == null) raise(args);
            else context.Post(raise, args);
        }

        private void RaiseFrame(object? state)
        {
            Volatile.Write(ref framePending, 0);
            Guard(nameof(FrameReady), () => FrameReady?.Invoke(this, EventArgs.Empty));
        }

        // Runs one event's handlers; what they throw is reported, never passed on.
        private void Guard(string name, Action raise)
        {
            if (disposed) return;
            try
            {
                raise();
            }
            catch (Exception exception)
            {
                ReportHandlerFailure(name, exception);
            }
        }

        private void ReportHandlerFailure(string name, Exception exception)
        {
            var failed = HandlerFailed;
            if (failed != null)
            {
                try
                {
                    failed(this, new HandlerFailedEventArgs(name, exception));
                    return;
                }
                catch (Exception second)
                {
                    Trace.TraceError("Kesto.VideoClient: a HandlerFailed handler threw: {0}", second);
                }
            }
            Trace.TraceError("Kesto.VideoClient: a {0} handler threw: {1}", name, exception);
        }

        private void ThrowIfDisposed()
        {
            if (disposed) throw new ObjectDisposedException(nameof(VideoClient));
        }
    }
}
