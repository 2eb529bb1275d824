using System;
using System.Windows;
using System.Windows.Controls;
using System.Windows.Interop;
using System.Windows.Media;
using System.Windows.Threading;

namespace Kesto.VideoClient.Wpf
{
    /// <summary>
    /// Shows the stream's picture: put it into a window, call <see cref="Start"/>. It owns a
    /// <see cref="D3DImage"/> with the library's surface (software fallback on, so Remote
    /// Desktop and software-rendered WPF show the picture too), asks for the surface again
    /// after a setting, a lost device and a returning front buffer, draws on every frame
    /// notice on the UI thread, and when unloaded stops the stream, detaches the surface and
    /// ends the display and the client, in that order.
    /// </summary>
    public class VideoView : Image
    {
        private readonly D3DImage image = new D3DImage();
        private readonly SurfacePresenter presenter;
        private readonly Target target;

        /// <summary>A view; its client and display are made on the UI thread that makes it.</summary>
        public VideoView()
        {
            // Its events are posted to this view's Dispatcher, also when the view is made before
            // the Dispatcher runs (when no synchronization context is current yet).
            Client = new VideoClient(new DispatcherSynchronizationContext(Dispatcher));
            Display = new VideoDisplay();
            target = new Target(this);
            presenter = new SurfacePresenter(target);
            Source = image;
            Stretch = Stretch.Uniform;
            Client.FrameReady += (sender, e) => presenter.FrameReady();
            image.IsFrontBufferAvailableChanged += (sender, e) =>
                presenter.FrontBufferAvailableChanged((bool)e.NewValue);
            Loaded += (sender, e) => SetAdapterFromPosition();
            Unloaded += (sender, e) => Close();
        }

        /// <summary>The stream client: its events, statistics, snapshots and segments.</summary>
        public VideoClient Client { get; }

        /// <summary>
        /// The display. Change its settings through <see cref="SetSurfaceSize"/>, <see cref="SetAlpha"/>,
        /// <see cref="SetNumDesiredSamples"/> and <see cref="SetAdapterFromPosition"/>, which attach the new surface.
        /// </summary>
        public VideoDisplay Display { get; }

        /// <summary>Starts the stream (<c>tcp://host[:port]</c> or <c>file://path</c>) and shows it.</summary>
        public int Start(string streamName, string uri)
        {
            presenter.FrameReady();
            return Client.Start(streamName, uri);
        }

        /// <summary>Stops the stream; the last picture stays.</summary>
        public int Stop() => Client.Stop();

        /// <summary>The surface's size in pixels.</summary>
        public void SetSurfaceSize(uint width, uint height)
        {
            Display.SetSize(width, height);
            presenter.SettingsChanged();
        }

        /// <summary>Surfaces with an alpha channel or without.</summary>
        public void SetAlpha(bool alpha)
        {
            Display.SetAlpha(alpha);
            presenter.SettingsChanged();
        }

        /// <summary>The multisample count of the surfaces (0 or 1: none).</summary>
        public void SetNumDesiredSamples(uint samples)
        {
            Display.SetNumDesiredSamples(samples);
            presenter.SettingsChanged();
        }

        /// <summary>Draws on the adapter of the monitor that shows the centre of this view.</summary>
        public void SetAdapterFromPosition()
        {
            if (PresentationSource.FromVisual(this) == null) return;
            Point centre = PointToScreen(new Point(ActualWidth / 2, ActualHeight / 2));
            Display.SetAdapter((int)centre.X, (int)centre.Y);
            presenter.SettingsChanged();
        }

        /// <summary>Stops the stream, detaches the surface, ends the display and the client.</summary>
        public void Close() => presenter.Close();

        private sealed class Target : ISurfaceTarget
        {
            private readonly VideoView view;

            public Target(VideoView view) => this.view = view;

            public int GetBackBuffer(out IntPtr surface) => view.Display.GetBackBuffer(out surface);

            public void Attach(IntPtr surface)
            {
                view.image.Lock();
                try
                {
                    view.image.SetBackBuffer(D3DResourceType.IDirect3DSurface9, surface, true);
                }
                finally
                {
                    view.image.Unlock();
                }
            }

            public int Render()
            {
                var image = view.image;
                image.Lock();
                try
                {
                    int result = view.Display.Render();
                    if (result == KestoResult.Ok && image.PixelWidth > 0)
                        image.AddDirtyRect(new Int32Rect(0, 0, image.PixelWidth, image.PixelHeight));
                    return result;
                }
                finally
                {
                    image.Unlock();
                }
            }

            public void StopStream() => view.Client.Stop();

            public void DestroyDisplay() => view.Display.Dispose();

            public void DestroyClient() => view.Client.Dispose();
        }
    }
}
