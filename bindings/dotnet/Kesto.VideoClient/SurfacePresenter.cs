using System;

namespace Kesto.VideoClient
{
    /// <summary>
    /// What a view does with the library's surface: ask for it, hand it to its image, draw into
    /// it, and end it all. A WPF view implements it with a <c>D3DImage</c>; tests with a record.
    /// </summary>
    public interface ISurfaceTarget
    {
        /// <summary>Asks the display for its surface (<see cref="VideoDisplay.GetBackBuffer"/>).</summary>
        int GetBackBuffer(out IntPtr surface);

        /// <summary>Hands the surface to the image (with the software fallback on); <see cref="IntPtr.Zero"/> detaches it.</summary>
        void Attach(IntPtr surface);

        /// <summary>Draws the latest frame and marks the image changed; returns the library's result.</summary>
        int Render();

        /// <summary>Stops the stream.</summary>
        void StopStream();

        /// <summary>Ends the display (<see cref="VideoDisplay.Dispose"/>).</summary>
        void DestroyDisplay();

        /// <summary>Ends the client (<see cref="VideoClient.Dispose"/>).</summary>
        void DestroyClient();
    }

    /// <summary>
    /// The decisions of a view that shows the library's surface, kept apart from any UI
    /// framework: when to ask for the surface again, when to draw, and the order of teardown.
    /// All calls come from the view's UI thread.
    /// </summary>
    public sealed class SurfacePresenter
    {
        private readonly ISurfaceTarget target;
        private bool attachWanted = true;
        private bool frontBufferAvailable = true;
        private bool closed;

        /// <summary>A presenter for <paramref name="target"/>; the first frame attaches the surface.</summary>
        public SurfacePresenter(ISurfaceTarget target) =>
            this.target = target ?? throw new ArgumentNullException(nameof(target));

        /// <summary>The surface the image shows now, <see cref="IntPtr.Zero"/> when none.</summary>
        public IntPtr Surface { get; private set; }

        /// <summary>
        /// A display setter or <see cref="VideoDisplay.SetAdapter"/> was called: the surface may be
        /// a new one, so it is asked for again at once.
        /// </summary>
        public void SettingsChanged()
        {
            attachWanted = true;
            Attach();
        }

        /// <summary>The image's front buffer became unavailable (false) or available again (true).</summary>
        public void FrontBufferAvailableChanged(bool available)
        {
            frontBufferAvailable = available;
            if (!available) return;
            // The device may have been lost meanwhile: the library rebuilds it on this request.
            attachWanted = true;
            Attach();
            Draw();
        }

        /// <summary>A frame notice (or the host's own timer): draws, attaching first where needed.</summary>
        public void FrameReady()
        {
            if (attachWanted) Attach();
            Draw();
        }

        /// <summary>Ends the view: stop the stream, detach, destroy the display, destroy the client.</summary>
        public void Close()
        {
            if (closed) return;
            closed = true;
            target.StopStream();
            if (Surface != IntPtr.Zero) target.Attach(IntPtr.Zero);
            Surface = IntPtr.Zero;
            target.DestroyDisplay();
            target.DestroyClient();
        }

        private void Attach()
        {
            if (closed || !frontBufferAvailable) return;
            int result = target.GetBackBuffer(out IntPtr surface);
            if (result != KestoResult.Ok) surface = IntPtr.Zero;
            // A null surface (device lost, no adapter) keeps asking on later frames.
            attachWanted = surface == IntPtr.Zero;
            if (surface == Surface) return;
            Surface = surface;
            target.Attach(surface);
        }

        private void Draw()
        {
            if (closed || !frontBufferAvailable || Surface == IntPtr.Zero) return;
            // A failed draw points to a lost or removed device: ask for the surface again next time.
            if (target.Render() != KestoResult.Ok) attachWanted = true;
        }
    }
}
