using System;
using System.Runtime.InteropServices;

namespace Kesto.VideoClient
{
    /// <summary>A configuration made by AllocFFTR, released by FreeFFTR exactly once.</summary>
    internal sealed class FftHandle : SafeHandle
    {
        public FftHandle()
            : base(IntPtr.Zero, true)
        {
        }

        public override bool IsInvalid => handle == IntPtr.Zero;

        protected override bool ReleaseHandle()
        {
            NativeMethods.FreeFFTR(handle);
            return true;
        }
    }

    /// <summary>
    /// A forward real FFT of a fixed even length, unscaled:
    /// <c>freq[k] = Σ time[n]·e^(−2πikn/N)</c> for k = 0 … N/2. Use one instance from one
    /// thread at a time; separate instances may run at once.
    /// </summary>
    public sealed class RealFft : IDisposable
    {
        private readonly FftHandle handle;

        /// <summary>A transform of <paramref name="length"/> points.</summary>
        /// <exception cref="ArgumentOutOfRangeException">The length is odd, not positive or too large.</exception>
        /// <exception cref="PlatformNotSupportedException">The process is not 64-bit.</exception>
        public RealFft(int length)
        {
            NativeMethods.RequireSupportedProcess();
            handle = NativeMethods.AllocFFTR(length);
            if (handle.IsInvalid)
            {
                handle.Dispose();
                throw new ArgumentOutOfRangeException(nameof(length), length,
                    "The length must be even, positive and at most 1431655764 (or memory ran out).");
            }
            Length = length;
        }

        /// <summary>The number of real samples per transform.</summary>
        public int Length { get; }

        /// <summary>
        /// Transforms <see cref="Length"/> samples into <see cref="Length"/>/2 + 1 complex values,
        /// stored as real and imaginary parts in <paramref name="frequency"/> (Length + 2 doubles).
        /// </summary>
        public void Transform(double[] time, double[] frequency)
        {
            if (time == null) throw new ArgumentNullException(nameof(time));
            if (frequency == null) throw new ArgumentNullException(nameof(frequency));
            if (time.Length < Length) throw new ArgumentException($"Needs {Length} samples.", nameof(time));
            if (frequency.Length < Length + 2) throw new ArgumentException($"Needs {Length + 2} doubles.", nameof(frequency));
            if (handle.IsClosed) throw new ObjectDisposedException(nameof(RealFft));
            NativeMethods.FFTR(handle, time, frequency);
        }

        /// <summary>Transforms the samples into a new array of Length + 2 doubles.</summary>
        public double[] Transform(double[] time)
        {
            var frequency = new double[Length + 2];
            Transform(time, frequency);
            return frequency;
        }

        /// <summary>Releases the configuration.</summary>
        public void Dispose() => handle.Dispose();
    }
}
