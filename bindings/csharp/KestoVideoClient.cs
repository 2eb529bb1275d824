// C# binding of the Kesto video client library (KestoVideoClient.dll on Windows,
// libKestoVideoClient.so elsewhere): P/Invoke declarations of every export of
// include/kesto/video_client.h, and VideoClient, a small wrapper that raises .NET events for
// the library's messages and azimuth notices.
//
// Strings cross as narrow ANSI strings, result codes as int (HRESULT). The library calls the
// callbacks on its own threads: marshal the events to your UI thread (Dispatcher.BeginInvoke)
// and never call the stream or display functions synchronously from inside a handler.
using System;
using System.Runtime.InteropServices;

namespace Kesto.VideoClient
{
    /// <summary>First argument of the message callback.</summary>
    public enum MessageCode
    {
        Error = 1,
        Status = 2,
        Info = 3,
        Exception = 4,
        FrameReady = 6,
    }

    /// <summary>A point in virtual-screen coordinates, laid out as the Win32 POINT.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct KestoPoint
    {
        public int X;
        public int Y;

        public KestoPoint(int x, int y)
        {
            X = x;
            Y = y;
        }
    }

    public static class NativeMethods
    {
        public const string Library = "KestoVideoClient";

        public const int S_OK = 0;
        public const int E_INVALIDARG = unchecked((int)0x80070057);
        public const int E_FAIL = unchecked((int)0x80004005);

        /// <summary>text is a NUL-terminated ANSI string or IntPtr.Zero, valid only during the call.</summary>
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void MessageCallback(int code, IntPtr text, long timeMs);

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void AzimuthCallback(double azimuth);

        // Client session and stream
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int SetCallbackFunc(MessageCallback callback);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int SetAzCallbackFunc(AzimuthCallback callback);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int StartServerStream([MarshalAs(UnmanagedType.LPStr)] string streamName,
                                                   [MarshalAs(UnmanagedType.LPStr)] string uri);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int StopServerStream([MarshalAs(UnmanagedType.LPStr)] string streamName);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetCurrentAzimuth(double azimuth);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void DestroyClient();

        // Pass-through: picture settings, snapshots, segments, statistics
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetRotationOffset(double offset);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetCurrentZoomFactor(double zoomFactor);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern void SaveVideoFrameRawToDisk([MarshalAs(UnmanagedType.LPStr)] string path);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern void SaveVideoSegmentRawToDisk([MarshalAs(UnmanagedType.LPStr)] string fileName,
                                                            int durationMs);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern double GetStreamStat([MarshalAs(UnmanagedType.LPStr)] string streamName,
                                                  [MarshalAs(UnmanagedType.LPStr)] string statName);

        // Display: the surface is an IDirect3DSurface9* for D3DImage.SetBackBuffer
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int SetSize(uint width, uint height);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int SetAlpha(int alpha);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int SetNumDesiredSamples(uint samples);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int SetAdapter(KestoPoint point);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int GetBackBufferNoRef(out IntPtr surface);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int Render();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void DestroyD3D();

        // FFT (independent of the stream)
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr AllocFFTR(int nfft);

        /// <summary>timedata: nfft doubles; freqdata: nfft + 2 doubles (re, im pairs).</summary>
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void FFTR(IntPtr cfg, [In] double[] timedata, [Out] double[] freqdata);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void FreeFFTR(IntPtr cfg);
    }

    public sealed class MessageEventArgs : EventArgs
    {
        public MessageEventArgs(int code, string text, DateTimeOffset time)
        {
            Code = code;
            Text = text;
            Time = time;
        }

        /// <summary>A MessageCode, or a decoder library's own log level.</summary>
        public int Code { get; }
        /// <summary>Null for MessageCode.FrameReady.</summary>
        public string Text { get; }
        public DateTimeOffset Time { get; }
    }

    public sealed class AzimuthEventArgs : EventArgs
    {
        public AzimuthEventArgs(double azimuth)
        {
            Azimuth = azimuth;
        }

        /// <summary>Radians, exactly as the stream carries it (NaN passes through).</summary>
        public double Azimuth { get; }
    }

    /// <summary>
    /// The library's one stream with its callbacks as events. There is one library state per
    /// process: make one VideoClient and dispose of it before unloading.
    /// </summary>
    public sealed class VideoClient : IDisposable
    {
        // The library keeps only the function pointers: these fields keep the delegates (and
        // so the thunks behind the pointers) alive for as long as the library may call them.
        private readonly NativeMethods.MessageCallback messageCallback;
        private readonly NativeMethods.AzimuthCallback azimuthCallback;
        private bool disposed;

        /// <summary>Raised on the library's threads.</summary>
        public event EventHandler<MessageEventArgs> MessageReceived;

        /// <summary>Raised on the stream's worker thread, once per azimuth record.</summary>
        public event EventHandler<AzimuthEventArgs> AzimuthReceived;

        public VideoClient()
        {
            messageCallback = OnMessage;
            azimuthCallback = OnAzimuth;
            NativeMethods.SetCallbackFunc(messageCallback);
            NativeMethods.SetAzCallbackFunc(azimuthCallback);
        }

        public string StreamName { get; private set; } = "";

        /// <summary>Starts (or replaces) the stream; returns the HRESULT.</summary>
        public int Start(string streamName, string uri)
        {
            StreamName = streamName;
            return NativeMethods.StartServerStream(streamName, uri);
        }

        public int Stop()
        {
            return NativeMethods.StopServerStream(StreamName.Length > 0 ? StreamName : "stream");
        }

        public double GetStat(string statName)
        {
            return NativeMethods.GetStreamStat(StreamName, statName);
        }

        public double FramesReceived => GetStat("frames_received");

        public void Dispose()
        {
            if (disposed) return;
            disposed = true;
            NativeMethods.DestroyClient();
            NativeMethods.SetCallbackFunc(null);
            NativeMethods.SetAzCallbackFunc(null);
            // A worker that read the old pointers just before may call them once more: the
            // delegates stay reachable through this object until it is collected.
            GC.KeepAlive(messageCallback);
            GC.KeepAlive(azimuthCallback);
        }

        private void OnMessage(int code, IntPtr text, long timeMs)
        {
            // Copy the text now: it is valid only during the call. No exception may cross back
            // into the library.
            try
            {
                string copy = text == IntPtr.Zero ? null : Marshal.PtrToStringAnsi(text);
                MessageReceived?.Invoke(this, new MessageEventArgs(
                    code, copy, DateTimeOffset.FromUnixTimeMilliseconds(timeMs)));
            }
            catch (Exception)
            {
            }
        }

        private void OnAzimuth(double azimuth)
        {
            try
            {
                AzimuthReceived?.Invoke(this, new AzimuthEventArgs(azimuth));
            }
            catch (Exception)
            {
            }
        }
    }
}
