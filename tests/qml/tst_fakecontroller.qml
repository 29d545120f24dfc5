// The stand-in that the *_fake tests put in the controller's place has the controller's
// interface, member for member: a window that works with it works with the controller.
import QtQuick
import QtTest

TestCase {
    name: "FakeController"

    function test_sameInterfaceAsTheController() {
        // Properties, signals and invokables, with their types and argument names.
        const real = interfaces.controller;
        const fake = interfaces.fake;
        verify(real.length >= 23, real.join("\n"));
        // Member by member, so that a failure names the one that differs.
        for (let i = 0; i < Math.max(real.length, fake.length); ++i)
            compare(fake[i], real[i], "member " + i);
    }
}
