using System;
using System.Collections.Generic;
using Xunit;

namespace Kesto.VideoClient.Tests
{
    // The WPF view's decisions, driven without WPF through a target that records its calls.
    public sealed class PresenterTests
    {
        public sealed class Record : ISurfaceTarget
        {
            public readonly List<string> Calls = new();
            public IntPtr Next = (IntPtr)0x100;
            public int RenderResult = KestoResult.Ok;

            public int GetBackBuffer(out IntPtr surface) { Calls.Add("get"); surface = Next; return KestoResult.Ok; }

            public void Attach(IntPtr surface) => Calls.Add("attach " + surface.ToInt64().ToString("x"));
            public int Render() { Calls.Add("render"); return RenderResult; }
            public void StopStream() => Calls.Add("stop");
            public void DestroyDisplay() => Calls.Add("destroy display");
            public void DestroyClient() => Calls.Add("destroy client");
        }

        // Each row: what happens, then the calls it must make (after the first frame's).
        public static IEnumerable<object[]> Rows() => new[]
        {
            Row(p => p.presenter.FrameReady(), "render"),
            Row(p => { p.target.Next = (IntPtr)0x200; p.presenter.SettingsChanged(); }, "get", "attach 200"),
            Row(p => p.presenter.SettingsChanged(), "get"),
            // A lost device: no surface, nothing drawn, asked again on every frame until back.
            Row(p => { p.target.Next = IntPtr.Zero; p.presenter.SettingsChanged(); p.presenter.FrameReady();
                       p.target.Next = (IntPtr)0x300; p.presenter.FrameReady(); },
                "get", "attach 0", "get", "get", "attach 300", "render"),
            Row(p => { p.target.RenderResult = KestoResult.Fail; p.presenter.FrameReady(); p.presenter.FrameReady(); },
                "render", "get", "render"),
            Row(p => { p.presenter.FrontBufferAvailableChanged(false); p.presenter.FrameReady();
                       p.target.Next = (IntPtr)0x400; p.presenter.FrontBufferAvailableChanged(true); },
                "get", "attach 400", "render"),
            Row(p => { p.presenter.Close(); p.presenter.FrameReady(); p.presenter.Close(); },
                "stop", "attach 0", "destroy display", "destroy client"),
        };

        private static object[] Row(Action<(SurfacePresenter presenter, Record target)> act, params string[] calls) =>
            new object[] { act, calls };

        [Theory]
        [MemberData(nameof(Rows))]
        public void The_view_attaches_draws_and_tears_down_in_order(Action<(SurfacePresenter, Record)> act, string[] calls)
        {
            var target = new Record();
            var presenter = new SurfacePresenter(target);
            presenter.FrameReady();
            Assert.Equal(new[] { "get", "attach 100", "render" }, target.Calls);
            target.Calls.Clear();
            act((presenter, target));
            Assert.Equal(calls, target.Calls);
        }
    }
}
