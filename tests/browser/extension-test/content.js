// The test copy's content script on the test page: hands the driver's request (a window message)
// to the background and the answer back.
window.addEventListener("message", async (event) => {
  if (event.source !== window || !event.data?.zeltTest) return;
  const api = globalThis.browser ?? globalThis.chrome;
  let answer;
  try {
    answer = await api.runtime.sendMessage({ zeltTest: event.data.zeltTest });
  } catch (error) {
    answer = { ok: false, error: `the background did not answer: ${error?.message ?? error}` };
  }
  window.postMessage({ zeltTestAnswer: answer }, "*");
});
document.documentElement.dataset.zeltTest = "ready";
