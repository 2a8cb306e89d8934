#version 120
// Phong lighting with the normal taken from the normal map on unit 1.
uniform sampler2D Base;
uniform sampler2D NormalMap;
uniform int UseTexture;
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec3 eyeTangent;
varying vec3 eyeBinormal;

// The map stores each component c as c * 128 + 127 (red x, green y, blue z). Its y was taken down
// the image rows while v runs up, so y changes sign here.
vec3 TangentNormal(vec2 uv)
{
    vec3 c = (texture2D(NormalMap, uv).rgb * 255.0 - 127.0) / 128.0;
    return normalize(vec3(c.x, -c.y, c.z));
}

void main()
{
    vec3 n0 = normalize(eyeNormal);
    vec3 e = normalize(-eyePosition);
    float side = dot(n0, e) < 0.0 ? -1.0 : 1.0;
    vec3 t = eyeTangent;
    vec3 b = eyeBinormal;
    vec3 m = TangentNormal(gl_TexCoord[0].st);
    vec3 n = normalize(t * m.x + b * m.y + n0 * m.z);
    if (dot(t, t) < 1e-12 || dot(b, b) < 1e-12)
        n = n0;  // no tangent frame: plain per-pixel normal
    n *= side;

    vec4 lightPos = gl_LightSource[0].position;
    vec3 l = normalize(lightPos.xyz - eyePosition * lightPos.w);
    float diffuse = max(dot(n, l), 0.0);
    float specular = diffuse > 0.0 ? pow(max(dot(reflect(-l, n), e), 0.0), gl_FrontMaterial.shininess) : 0.0;

    vec4 base = UseTexture != 0 ? texture2D(Base, gl_TexCoord[0].st) : vec4(1.0);
    vec3 light = gl_FrontLightModelProduct.sceneColor.rgb + gl_FrontLightProduct[0].ambient.rgb +
                 gl_FrontLightProduct[0].diffuse.rgb * diffuse;
    gl_FragColor = vec4(base.rgb * light + gl_LightSource[0].specular.rgb * specular, 1.0);
}
