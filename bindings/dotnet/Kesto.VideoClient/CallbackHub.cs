// The library keeps the two callback pointers for the life of the process and may call them
// at any moment from its worker thread, also after a client object is gone. So the delegates
// behind the pointers live in static fields, are registered once and never replaced; client
// objects only subscribe to and unsubscribe from this hub. A client that is never disposed
// is held weakly: once collected it simply receives nothing, and the library calls a live
// delegate as before.
using System;
using System.Diagnostics;
using System.Runtime.InteropServices;

namespace Kesto.VideoClient
{
    internal static class CallbackHub
    {
        private static readonly NativeMethods.MessageCallback MessageThunk = OnMessage;
        private static readonly NativeMethods.AzimuthCallback AzimuthThunk = OnAzimuth;
        private static readonly object Gate = new object();
        private static bool registered;

        // Copied on every change and read without a lock by the library's threads.
        private static volatile WeakReference<VideoClient>[] subscribers = new WeakReference<VideoClient>[0];

        internal static void Subscribe(VideoClient client)
        {
            lock (Gate)
            {
                if (!registered)
                {
                    NativeMethods.SetCallbackFunc(MessageThunk);
                    NativeMethods.SetAzCallbackFunc(AzimuthThunk);
                    registered = true;
                }
                var next = new System.Collections.Generic.List<WeakReference<VideoClient>>();
                foreach (var reference in subscribers)
                {
                    if (reference.TryGetTarget(out _)) next.Add(reference);
                }
                next.Add(new WeakReference<VideoClient>(client));
                subscribers = next.ToArray();
            }
        }

        internal static void Unsubscribe(VideoClient client)
        {
            lock (Gate)
            {
                subscribers = Array.FindAll(subscribers,
                    reference => reference.TryGetTarget(out var other) && !ReferenceEquals(other, client));
            }
        }

        private static void OnMessage(int code, IntPtr text, long timeMs)
        {
            // No exception may cross back into the library; the text lives only during the call.
            try
            {
                string? copy = text == IntPtr.Zero ? null : Marshal.PtrToStringAnsi(text);
                var time = DateTimeOffset.FromUnixTimeMilliseconds(timeMs);
                foreach (var reference in subscribers)
                {
                    if (reference.TryGetTarget(out var client)) client.OnNativeMessage(code, copy, time);
                }
            }
            catch (Exception exception)
            {
                Trace.TraceError("Kesto.VideoClient: a message was lost: {0}", exception);
            }
        }

        private static void OnAzimuth(double azimuth)
        {
            try
            {
                foreach (var reference in subscribers)
                {
                    if (reference.TryGetTarget(out var client)) client.OnNativeAzimuth(azimuth);
                }
            }
            catch (Exception exception)
            {
                Trace.TraceError("Kesto.VideoClient: an azimuth notice was lost: {0}", exception);
            }
        }
    }
}
