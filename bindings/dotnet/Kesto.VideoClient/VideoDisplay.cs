using System;

namespace Kesto.VideoClient
{
    /// <summary>
    /// The library's Direct3D 9 display: the render-target surface a WPF <c>D3DImage</c>
    /// shows, and the drawing of the latest frame into it. One per process.
    /// </summary>
    /// <remarks>
    /// Call <see cref="GetBackBuffer"/>, <see cref="Render"/> and <see cref="Dispose"/> on
    /// one thread (the UI thread), never from a handler that runs on the library's threads.
    /// After any setter, and when the <c>D3DImage</c>'s front buffer becomes available again,
    /// ask for the surface again: it may be a new one. A null surface while the device is lost
    /// is normal: ask again later.
    /// </remarks>
    public sealed class VideoDisplay : IDisposable
    {
        private bool disposed;

        /// <summary>The display (made by the library on first use).</summary>
        /// <exception cref="PlatformNotSupportedException">The process is not 64-bit.</exception>
        public VideoDisplay()
        {
            NativeMethods.RequireSupportedProcess();
        }

        /// <summary>The surfaces' size in pixels (1024 × 1024 until set); applied by the next <see cref="GetBackBuffer"/>.</summary>
        public int SetSize(uint width, uint height) => NativeMethods.SetSize(width, height);

        /// <summary>Surfaces with an alpha channel (A8R8G8B8) or without (X8R8G8B8, the default).</summary>
        public int SetAlpha(bool alpha) => NativeMethods.SetAlpha(alpha ? 1 : 0);

        /// <summary>The multisample count (0 or 1: none); an unsupported count becomes 0.</summary>
        public int SetNumDesiredSamples(uint samples) => NativeMethods.SetNumDesiredSamples(samples);

        /// <summary>Makes the adapter whose monitor holds the point (virtual-screen pixels) the active one.</summary>
        public int SetAdapter(int x, int y) => NativeMethods.SetAdapter((uint)x | ((long)y << 32));

        /// <summary>
        /// The active adapter's surface (an <c>IDirect3DSurface9*</c> without an added
        /// reference), made or remade as needed; <see cref="IntPtr.Zero"/> while the device is lost.
        /// </summary>
        /// <returns>The library's result: <see cref="KestoResult.Ok"/> or a Direct3D failure code.</returns>
        public int GetBackBuffer(out IntPtr surface)
        {
            ThrowIfDisposed();
            return NativeMethods.GetBackBufferNoRef(out surface);
        }

        /// <summary>Draws the latest frame into the surface; call between <c>D3DImage.Lock</c> and <c>Unlock</c>.</summary>
        /// <returns><see cref="KestoResult.Ok"/> (also while the device is lost) or a Direct3D failure code.</returns>
        public int Render()
        {
            ThrowIfDisposed();
            return NativeMethods.Render();
        }

        /// <summary>Releases every Direct3D object; detach the surface from the <c>D3DImage</c> first.</summary>
        public void Dispose()
        {
            if (disposed) return;
            disposed = true;
            NativeMethods.DestroyD3D();
        }

        private void ThrowIfDisposed()
        {
            if (disposed) throw new ObjectDisposedException(nameof(VideoDisplay));
        }
    }
}
