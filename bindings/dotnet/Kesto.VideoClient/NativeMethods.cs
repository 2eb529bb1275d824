// The library's exports as the runtime sees them. Nothing here is public: hosts use the
// objects (VideoClient, VideoDisplay, RealFft), which own what these calls hand out.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Kesto.VideoClient
{
    internal static class NativeMethods
    {
        // KestoVideoClient.dll on Windows, libKestoVideoClient.so elsewhere.
        private const string Library = "KestoVideoClient";

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate void MessageCallback(int code, IntPtr text, long timeMs);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate void AzimuthCallback(double azimuth);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int SetCallbackFunc(MessageCallback? callback);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int SetAzCallbackFunc(AzimuthCallback? callback);

        // The path-taking exports in their UTF-8 form: a byte array that ends in NUL (Utf8z).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int StartServerStreamUtf8(byte[]? streamName, byte[]? uri);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void SaveVideoFrameRawToDiskUtf8(byte[]? path);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void SaveVideoSegmentRawToDiskUtf8(byte[]? fileName, int durationMs);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int StopServerStream(byte[]? streamName);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void SetCurrentAzimuth(double azimuth);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void DestroyClient();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void SetRotationOffset(double offset);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void SetCurrentZoomFactor(double zoomFactor);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern double GetStreamStat(byte[]? streamName, byte[]? statName);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int SetSize(uint width, uint height);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int SetAlpha(int alpha);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int SetNumDesiredSamples(uint samples);

        // KestoPoint passed by value: x in the low 32 bits, y in the high ones.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int SetAdapter(long point);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int GetBackBufferNoRef(out IntPtr surface);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int Render();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void DestroyD3D();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern FftHandle AllocFFTR(int nfft);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void FFTR(FftHandle cfg, [In] double[] timedata, [Out] double[] freqdata);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void FreeFFTR(IntPtr cfg);

        /// <summary>The string as NUL-terminated UTF-8, or null for null.</summary>
        internal static byte[]? Utf8z(string? text)
        {
            if (text == null) return null;
            var bytes = new byte[Encoding.UTF8.GetByteCount(text) + 1];
            Encoding.UTF8.GetBytes(text, 0, text.Length, bytes, 0);
            return bytes;
        }

        /// <summary>
        /// The library is built for 64-bit processes only. Called before the first export, so a
        /// 32-bit host learns why at once instead of meeting BadImageFormatException later.
        /// </summary>
        internal static void RequireSupportedProcess()
        {
            if (!Environment.Is64BitProcess)
            {
                throw new PlatformNotSupportedException(
                    "Kesto.VideoClient needs a 64-bit process: the native library exists for x64 only. " +
                    "Build the application for x64, or AnyCPU with \"Prefer 32-bit\" off.");
            }
        }
    }
}
