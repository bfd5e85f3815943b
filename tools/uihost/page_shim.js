'use strict';
// Runs in every document before its first script (the harness injects it).
// It gives the page a window.external that forwards every property read,
// write, call and delete synchronously to the stub, through the harness, and
// runs what the stub asks of the page: calls of page functions, message boxes
// and the folder picker. The page's own alert, confirm and prompt show
// nothing, as in the product's host.
//
// Everything goes through one endpoint of the harness, under the per-run
// secret that is the first segment of the page's own path. The shim does
// nothing in documents of any other origin.

function installUiHostShim(config) {
  if (location.origin !== config.origin) return;
  const match = /^\/([0-9a-f]{64})\//.exec(location.pathname);
  if (!match) return;
  const rpcUrl = `/${match[1]}/__uihost__/rpc`;

  const nativeAlert = window.alert.bind(window);
  const nativeConfirm = window.confirm.bind(window);
  const nativePrompt = window.prompt.bind(window);
  window.alert = function alert() {};
  window.confirm = function confirm() {
    return false;
  };
  window.prompt = function prompt() {
    return null;
  };

  // Page functions handed to the stub, by id; ids are unique to this document.
  const documentKey = Math.random().toString(36).slice(2, 10);
  const functions = new Map();
  const functionIds = new WeakMap();
  let nextId = 1;

  function idOf(object) {
    let id = functionIds.get(object);
    if (id === undefined) {
      id = `${documentKey}.${nextId++}`;
      functionIds.set(object, id);
      functions.set(id, object);
    }
    return id;
  }

  // Text that is not well-formed UTF-16 (an unpaired surrogate) has no UTF-8
  // form: it crosses as its code units.
  const loneSurrogate = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(^|[^\uD800-\uDBFF])[\uDC00-\uDFFF]/;
  function encodeText(text) {
    if (!loneSurrogate.test(text)) return { t: 's', v: text };
    const units = new Array(text.length);
    for (let i = 0; i < text.length; i += 1) units[i] = text.charCodeAt(i);
    return { t: 's', u: units };
  }

  function decodeText(value) {
    if (!Array.isArray(value.u)) return value.v;
    let text = '';
    for (let i = 0; i < value.u.length; i += 8192) text += String.fromCharCode.apply(null, value.u.slice(i, i + 8192));
    return text;
  }

  // The script engine's view of a value: whole numbers that fit are 32-bit
  // integers, other numbers doubles, objects and functions dispatch objects.
  function encode(value) {
    switch (typeof value) {
      case 'string':
        return encodeText(value);
      case 'boolean':
        return { t: 'b', v: value };
      case 'number':
        if (Number.isInteger(value) && value >= -2147483648 && value <= 2147483647) return { t: 'i', v: value };
        if (!Number.isFinite(value)) throw new TypeError('window.external: a number that is not finite');
        return { t: 'd', v: value };
      case 'undefined':
        return { t: 'undefined' };
      case 'function':
        return { t: 'fn', id: idOf(value) };
      case 'object':
        return value === null ? { t: 'null' } : { t: 'fn', id: idOf(value) };
      default:
        throw new TypeError(`window.external: a ${typeof value} cannot be passed`);
    }
  }

  function decode(value) {
    switch (value && value.t) {
      case 's':
        return decodeText(value);
      case 'b':
      case 'i':
      case 'd':
        return value.v;
      case 'null':
        return null;
      case 'fn':
        return functions.get(value.id);
      case 'object':
        return {};
      default:
        return undefined;
    }
  }

  // The harness takes no message larger than a frame: the caller learns it
  // before anything is sent.
  class TooLarge extends Error {}
  function bodyOf(message) {
    const body = JSON.stringify(message);
    if (body.length * 3 > config.maxFrameBytes && new TextEncoder().encode(body).length > config.maxFrameBytes) {
      throw new TooLarge(`${body.length} characters do not fit in a message of the UI host`);
    }
    return body;
  }

  function post(message) {
    const body = bodyOf(message);
    const request = new XMLHttpRequest();
    request.open('POST', rpcUrl, false);
    request.setRequestHeader('Content-Type', 'application/json');
    request.send(body);
    if (request.status !== 200) throw new Error(`window.external: the UI host answered ${request.status}`);
    return JSON.parse(request.responseText);
  }

  function runFunction(message) {
    let reply;
    try {
      const target = functions.get(message.fn);
      if (typeof target !== 'function') throw new TypeError('not a function of this page');
      const value = target.apply(undefined, message.args.map(decode));
      reply = { type: 'return', seq: message.seq, value: encode(value) };
    } catch (error) {
      reply = { type: 'return', seq: message.seq, error: String((error && error.message) || error).slice(0, 4096) };
    }
    try {
      bodyOf(reply);
      return reply;
    } catch (error) {
      // The native caller sees the function fail; the conversation goes on.
      return { type: 'return', seq: message.seq, error: 'the value is too large for the UI host' };
    }
  }

  // MessageBoxW's button sets, shown with the browser's own dialogs.
  const IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDYES = 6, IDNO = 7;
  function showBox(message) {
    const text = message.caption ? `${message.caption}\n\n${message.text}` : message.text;
    switch (message.style & 0xf) {
      case 1: // MB_OKCANCEL
        return nativeConfirm(text) ? IDOK : IDCANCEL;
      case 2: // MB_ABORTRETRYIGNORE
        return nativeConfirm(text) ? IDRETRY : IDABORT;
      case 3: // MB_YESNOCANCEL
      case 4: // MB_YESNO
        return nativeConfirm(text) ? IDYES : IDNO;
      case 5: // MB_RETRYCANCEL
        return nativeConfirm(text) ? IDRETRY : IDCANCEL;
      default:
        nativeAlert(text);
        return IDOK;
    }
  }

  function answer(message) {
    switch (message.type) {
      case 'invoke':
        return runFunction(message);
      case 'box':
        return { type: 'answer', seq: message.seq, value: showBox(message) };
      case 'folder': {
        const chosen = nativePrompt('Select a folder', message.initial);
        const keep = chosen === null || chosen.length > 32767;
        return { type: 'answer', seq: message.seq, text: keep ? message.initial : chosen };
      }
      default:
        throw new Error(`window.external: unexpected message ${message.type}`);
    }
  }

  // Sends one message and follows the conversation it opens until its end:
  // the result of a call, or "done". Whatever the stub asks meanwhile runs here.
  function converse(message) {
    let reply = post(message);
    while (reply.type !== 'result' && reply.type !== 'done') reply = post(answer(reply));
    return reply;
  }

  function failure(reply, name) {
    const code = reply.error >>> 0;
    const error = new Error(`window.external.${name}: 0x${code.toString(16).toUpperCase().padStart(8, '0')}`);
    error.number = code | 0;
    return error;
  }

  // A request too large to send fails in script as the stub would fail it.
  function ask(message, name) {
    try {
      return converse(message);
    } catch (error) {
      if (error instanceof TooLarge) throw failure({ error: config.frameTooLarge }, name);
      throw error;
    }
  }

  function callMember(name, args) {
    const reply = ask({ type: 'call', name, args: Array.from(args, encode) }, name);
    if ('error' in reply) throw failure(reply, name);
    return decode(reply.value);
  }

  const methods = new Map();
  function memberFunction(name) {
    return function external_member() {
      return callMember(name, arguments);
    };
  }

  const external = new Proxy(Object.create(null), {
    get(target, name) {
      if (typeof name !== 'string') return undefined;
      if (methods.has(name)) return methods.get(name);
      const reply = ask({ type: 'get', name }, name);
      if ('error' in reply) throw failure(reply, name);
      if (reply.kind === 'method') {
        const method = memberFunction(name);
        methods.set(name, method);
        return method;
      }
      if (reply.kind !== 'value') return undefined;
      const value = decode(reply.value);
      // A function kept on the object is called through it, as the engine does.
      return typeof value === 'function' ? memberFunction(name) : value;
    },
    set(target, name, value) {
      if (typeof name !== 'string') return false;
      const reply = ask({ type: 'put', name, value: encode(value) }, name);
      if ('error' in reply) throw failure(reply, name);
      return true;
    },
    has(target, name) {
      if (typeof name !== 'string') return false;
      const reply = ask({ type: 'get', name }, name);
      return !('error' in reply) && reply.kind !== 'missing';
    },
    deleteProperty(target, name) {
      if (typeof name !== 'string') return true;
      const reply = ask({ type: 'delete', name }, name);
      if ('error' in reply) throw failure(reply, name);
      return true;
    },
  });

  Object.defineProperty(window, 'external', { value: external, enumerable: true, configurable: false, writable: false });

  // The harness hands over what the stub asks while the page is not in a call.
  Object.defineProperty(window, '__uihostDeliver', {
    value(message) {
      converse(answer(message));
    },
    enumerable: false,
    configurable: false,
    writable: false,
  });
}

module.exports = { installUiHostShim };
